#include "engine_fixture.h"

#include "device/text16.h"

String16 W(const std::string& text)
{
    return Utf8ToUtf16(text);
}

static const String16 g_vendor = W("KZ");
static const String16 g_product = W("Zenta update");
const WChar* const kVendor = g_vendor.c_str();
const WChar* const kProduct = g_product.c_str();

HostScope::HostScope()
{
    SetHost(&host_);
    ResetCallbacks();
}

HostScope::~HostScope()
{
    SetHost(nullptr);
}

CallbackLog g_callbacks;

void ResetCallbacks()
{
    std::lock_guard<std::mutex> guard(g_callbacks.lock);
    g_callbacks.progress.clear();
    g_callbacks.messages.clear();
}

void RecordProgress(int percent)
{
    std::lock_guard<std::mutex> guard(g_callbacks.lock);
    g_callbacks.progress.push_back(percent);
}

void RecordMessage(const WChar* text)
{
    std::string utf8;
    Utf16ToUtf8(text, &utf8);
    std::lock_guard<std::mutex> guard(g_callbacks.lock);
    g_callbacks.messages.push_back(utf8);
}

std::vector<unsigned char> MakeData(std::int64_t size, unsigned seed)
{
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 16);
    }
    return data;
}

bool DiskHoldsExactly(const TestHost& host, int disk, std::int64_t diskOffset,
                      const std::vector<unsigned char>& data)
{
    const std::int64_t end = diskOffset + static_cast<std::int64_t>(data.size());
    for (std::int64_t page : host.TouchedPages(disk)) {
        const auto bytes = host.DiskBytes(disk, page, TestHost::kPageSize);
        for (std::int64_t i = 0; i < TestHost::kPageSize; ++i) {
            const std::int64_t at = page + i;
            const unsigned char expected = at >= diskOffset && at < end
                                               ? data[static_cast<std::size_t>(at - diskOffset)]
                                               : TestHost::PatternByte(at);
            if (bytes[static_cast<std::size_t>(i)] != expected) {
                qWarning("disk %d differs at byte %lld", disk, static_cast<long long>(at));
                return false;
            }
        }
    }
    // Pages never written still hold the pattern, so any file byte that differs from it must
    // lie on a touched page: check the file range in full as well.
    const auto written = host.DiskBytes(disk, diskOffset, static_cast<std::int64_t>(data.size()));
    return written == data;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> CommandsOf(const TestHost& host, int disk)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const auto& e : host.EventsOf(disk)) {
        if (e.op == TestHost::Op::Command)
            out.emplace_back(e.code, e.parameter);
    }
    return out;
}

std::vector<std::uint32_t> ProgressOf(const TestHost& host, int disk)
{
    std::vector<std::uint32_t> out;
    for (const auto& command : CommandsOf(host, disk)) {
        if (command.first == 0xBEDC)
            out.push_back(command.second);
    }
    return out;
}

int CountOps(const std::vector<TestHost::Event>& events, TestHost::Op op)
{
    int n = 0;
    for (const auto& e : events)
        n += e.op == op ? 1 : 0;
    return n;
}
