// The host contract on the test host that the engine's tests run on.
#include "device/testhost/test_host.h"
#include "host_contract_tests.h"

namespace {

class TestHostFactory : public HostContractFactory {
public:
    const char* Name() const override { return "test"; }
    Host& TheHost() override { return host_; }

    String16 MakeSourceFile(const std::vector<unsigned char>& bytes) override
    {
        const std::string path = "/contract/source-" + std::to_string(files_++);
        host_.AddSourceFile(path, bytes);
        return Utf8ToUtf16(path);
    }

    String16 MissingFile() override { return Utf8ToUtf16("/contract/missing"); }

    ContractDisk Disk() override
    {
        if (disk_ < 0) {
            disk_ = host_.AddCalculator("contract");
            host_.EditDisk(disk_, [](TestHost::Disk& disk) { disk.size = kSize; });
        }
        return {Utf8ToUtf16(TestHost::CalculatorPath("contract")), kSize, ""};
    }

    bool HoldDisk(bool hold) override
    {
        host_.EditDisk(disk_, [hold](TestHost::Disk& disk) {
            disk.openFault = {0, hold ? -1 : 0};
            disk.openFailure = {HostFailure::Busy, 16};
        });
        return true;
    }

private:
    static constexpr std::int64_t kSize = 1 << 20;
    TestHost host_;
    int files_ = 0;
    int disk_ = -1;
};

} // namespace

int main(int argc, char** argv)
{
    TestHostFactory factory;
    return RunHostContract(factory, argc > 1 ? argv[1] : "") == 0 ? 0 : 1;
}
