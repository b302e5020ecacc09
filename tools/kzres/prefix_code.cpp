// The prefix code of a string table: the code tree built from the counts of its characters,
// and the tree's bytes.
#include "tools/kzres/prefix_code.h"

#include "tools/kzres/little_endian.h"

#include <queue>
#include <tuple>
#include <utility>

namespace {

// Node kinds of the code tree: which bit leads to a leaf stored in the node.
constexpr uint8_t kBothNodes = 0;  // bit 1 jumps a distance
constexpr uint8_t kLeafOnOne = 1;  // bit 0 goes to the following node
constexpr uint8_t kLeafOnZero = 2; // bit 1 goes to the following node
constexpr uint8_t kBothLeaves = 3;
constexpr uint8_t kSingleLeaf = 4; // both bits give the one leaf
constexpr int64_t kMaxDistance = 0xFFFF;

struct Node {
    uint64_t weight = 0;
    char16_t symbol = 0;
    int child[2] = {-1, -1};
    int64_t treeBytes = 0; // size of this subtree in the written tree; leaves take none
};

bool isLeaf(const Node& node)
{
    return node.child[0] < 0;
}

int buildTree(const std::map<char16_t, uint64_t>& counts, std::vector<Node>* nodes)
{
    // Smallest weight first, then the earliest made: leaves in unit order, then the merges.
    using Item = std::tuple<uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
    for (const auto& [symbol, count] : counts) {
        Node leaf;
        leaf.weight = count;
        leaf.symbol = symbol;
        nodes->push_back(leaf);
        queue.emplace(count, int(nodes->size()) - 1);
    }
    while (queue.size() > 1) {
        Node merged;
        merged.child[0] = std::get<1>(queue.top());
        queue.pop();
        merged.child[1] = std::get<1>(queue.top());
        queue.pop();
        merged.weight =
            (*nodes)[size_t(merged.child[0])].weight + (*nodes)[size_t(merged.child[1])].weight;
        nodes->push_back(merged);
        queue.emplace(merged.weight, int(nodes->size()) - 1);
    }
    return std::get<1>(queue.top());
}

// Only the bit-1 branch of a kBothNodes node is reached by a distance, over the bit-0
// subtree: putting the smaller subtree there keeps distances short.
int64_t measure(std::vector<Node>& nodes, int at)
{
    Node& node = nodes[size_t(at)];
    if (isLeaf(node))
        return 0;
    const int64_t zero = measure(nodes, node.child[0]);
    const int64_t one = measure(nodes, node.child[1]);
    const bool zeroLeaf = isLeaf(nodes[size_t(node.child[0])]);
    const bool oneLeaf = isLeaf(nodes[size_t(node.child[1])]);
    if (zeroLeaf && oneLeaf)
        node.treeBytes = 5;
    else
        node.treeBytes = 3 + zero + one;
    if (!zeroLeaf && !oneLeaf && one < zero)
        std::swap(node.child[0], node.child[1]);
    return node.treeBytes;
}

void putNode(std::vector<uint8_t>* tree, uint8_t kind, uint16_t value)
{
    tree->push_back(kind);
    appendLe16(tree, value);
}

bool writeTree(const std::vector<Node>& nodes, int at, std::vector<uint8_t>* tree)
{
    const Node& zero = nodes[size_t(nodes[size_t(at)].child[0])];
    const Node& one = nodes[size_t(nodes[size_t(at)].child[1])];
    const int zeroAt = nodes[size_t(at)].child[0];
    const int oneAt = nodes[size_t(at)].child[1];
    if (isLeaf(zero) && isLeaf(one)) {
        putNode(tree, kBothLeaves, zero.symbol);
        appendLe16(tree, one.symbol);
        return true;
    }
    if (isLeaf(one)) {
        putNode(tree, kLeafOnOne, one.symbol);
        return writeTree(nodes, zeroAt, tree);
    }
    if (isLeaf(zero)) {
        putNode(tree, kLeafOnZero, zero.symbol);
        return writeTree(nodes, oneAt, tree);
    }
    if (zero.treeBytes > kMaxDistance)
        return false;
    putNode(tree, kBothNodes, uint16_t(zero.treeBytes));
    return writeTree(nodes, zeroAt, tree) && writeTree(nodes, oneAt, tree);
}

void collectCodes(const std::vector<Node>& nodes, int at, std::vector<uint8_t>* bits,
                  std::map<char16_t, std::vector<uint8_t>>* codes)
{
    const Node& node = nodes[size_t(at)];
    if (isLeaf(node)) {
        (*codes)[node.symbol] = *bits;
        return;
    }
    for (uint8_t bit = 0; bit < 2; ++bit) {
        bits->push_back(bit);
        collectCodes(nodes, node.child[bit], bits, codes);
        bits->pop_back();
    }
}

} // namespace

bool buildPrefixCode(const std::map<char16_t, uint64_t>& counts, PrefixCode* code)
{
    *code = PrefixCode();
    if (counts.empty())
        return false;
    std::vector<Node> nodes;
    nodes.reserve(counts.size() * 2);
    const int root = buildTree(counts, &nodes);
    if (isLeaf(nodes[size_t(root)])) {
        // One unit alone still needs a node to spend a bit on.
        putNode(&code->tree, kSingleLeaf, nodes[size_t(root)].symbol);
        code->codes[nodes[size_t(root)].symbol] = {0};
        return true;
    }
    measure(nodes, root);
    if (!writeTree(nodes, root, &code->tree))
        return false;
    std::vector<uint8_t> bits;
    collectCodes(nodes, root, &bits, &code->codes);
    return true;
}
