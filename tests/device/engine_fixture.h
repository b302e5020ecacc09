#pragma once

#include "device/engine.h"
#include "device/testhost/test_host.h"
#include "device/text16.h"

#include <QtTest>

#include <mutex>
#include <string>
#include <vector>

// UTF-16 strings for the engine from plain ASCII/UTF-8 literals.
String16 W(const std::string& text);

extern const WChar* const kVendor;  // "KZ"
extern const WChar* const kProduct; // "Zenta update"

// Installs a fresh TestHost for one test function and puts the native host back afterwards.
class HostScope {
public:
    HostScope();
    ~HostScope();
    TestHost& host() { return host_; }

private:
    TestHost host_;
};

// What the engine's callbacks received, from whichever threads called them.
struct CallbackLog {
    std::mutex lock;
    std::vector<int> progress;
    std::vector<std::string> messages;
};
extern CallbackLog g_callbacks;
void ResetCallbacks();
void RecordProgress(int percent);
void RecordMessage(const WChar* text);

// Deterministic file content of a given size.
std::vector<unsigned char> MakeData(std::int64_t size, unsigned seed = 1);

// Every byte of the disk that differs from its untouched state must be explained by the file at
// diskOffset, and every file byte must be there. Fails the test otherwise.
bool DiskHoldsExactly(const TestHost& host, int disk, std::int64_t diskOffset,
                      const std::vector<unsigned char>& data);

// The commands a disk received, as (code, parameter) pairs.
std::vector<std::pair<std::uint32_t, std::uint32_t>> CommandsOf(const TestHost& host, int disk);
std::vector<std::uint32_t> ProgressOf(const TestHost& host, int disk);
// "0 50 100": sequences that a failing comparison shows in full.
template <typename T> QString Join(const std::vector<T>& values)
{
    QStringList parts;
    for (const T& v : values)
        parts << QString::number(v);
    return parts.join(' ');
}

int CountOps(const std::vector<TestHost::Event>& events, TestHost::Op op);
