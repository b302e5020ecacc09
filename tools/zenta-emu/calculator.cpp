// The calculator in update mode: data stored on its disk, commands taken at its mailbox sector
// and answered there, and a record of every transfer it saw.
#include "calculator.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

namespace {

bool HoldsMailbox(std::uint64_t offset, std::uint64_t length)
{
    return offset < kMailboxOffset + kSectorSize && offset + length > kMailboxOffset;
}

std::uint64_t RoundUpToSector(std::uint64_t value)
{
    return (value + kSectorSize - 1) / kSectorSize * kSectorSize;
}

} // namespace

Calculator::Calculator(std::string serial, std::uint64_t size, std::vector<FileRegion> files,
                       CalculatorBehaviour behaviour, Clock::time_point origin)
    : serial_(std::move(serial)), files_(std::move(files)), behaviour_(std::move(behaviour)),
      origin_(origin), image_(size, std::hash<std::string>()(serial_))
{
}

double Calculator::Now() const
{
    return std::chrono::duration<double>(Clock::now() - origin_).count();
}

void Calculator::SetPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    present_ = present;
    replyHeld_ = false;
}

bool Calculator::TakePulled()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool pulled = pullPending_;
    pullPending_ = false;
    return pulled;
}

bool Calculator::FinishedFor(double delay) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finishes_ > 0 && Now() - lastFinishAt_ >= delay;
}

int Calculator::Finishes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finishes_;
}

CalculatorState Calculator::State() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    CalculatorState state = state_;
    state.changed = image_.Changes();
    Extents files;
    for (const FileRegion& file : files_) {
        files.Add(file.offset, file.offset + file.size);
        const std::uint64_t end = std::min(file.offset + file.size, image_.Size());
        state.finalSha256.push_back(
            end > file.offset ? image_.Sha256(file.offset, end - file.offset) : QByteArray());
    }
    state.changedOutsideFiles = FirstOutside(state.changed, files);
    return state;
}

void Calculator::SetEarlier(std::uint64_t offset, const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    image_.SetEarlier(offset, bytes);
}

void Calculator::OnData(std::function<void(std::uint64_t offset, std::uint64_t length)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    onData_ = std::move(hook);
}

int Calculator::Read(std::uint64_t offset, std::uint64_t length, unsigned char* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) {
        ++state_.ioWhileAway;
        return -EIO;
    }
    image_.Read(offset, length, out);
    if (replyHeld_ && HoldsMailbox(offset, length) && offset <= kMailboxOffset &&
        offset + length >= kMailboxOffset + kSectorSize)
        std::memcpy(out + (kMailboxOffset - offset), reply_, kSectorSize);
    if (offset == kMailboxOffset && length > kSectorSize) {
        // The host reads this stretch before a transfer, after one and before finishing.
        areaReadSinceCommand_ = true;
        state_.events.push_back(
            {MailboxEvent::AreaRead, Now(), 0, static_cast<std::uint32_t>(length), true});
    }
    return 0;
}

bool Calculator::FaultHits(std::uint64_t offset, std::uint64_t length)
{
    for (WriteFault& fault : behaviour_.writeFaults) {
        if (fault.failures != 0 && fault.offset >= offset && fault.offset < offset + length) {
            if (fault.failures > 0)
                --fault.failures;
            return true;
        }
    }
    return false;
}

int Calculator::Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) {
        ++state_.ioWhileAway;
        return -EIO;
    }
    TransferRecord* transfer = Current();
    if (FaultHits(offset, length)) {
        if (transfer != nullptr)
            ++transfer->failedWrites;
        return -EIO;
    }
    const bool wholeMailbox =
        offset <= kMailboxOffset && offset + length >= kMailboxOffset + kSectorSize;
    std::optional<MailboxCommand> command;
    if (wholeMailbox)
        command = DecodeCommand(in + (kMailboxOffset - offset));
    if (!command) {
        StoreData(offset, length, in);
        return 0;
    }
    // The command sector goes to the firmware; whatever else came with it is data.
    StoreData(offset, kMailboxOffset - offset, in);
    const std::uint64_t after = kMailboxOffset + kSectorSize;
    StoreData(after, offset + length - after, in + (after - offset));
    TakeCommand(*command);
    return 0;
}

void Calculator::StoreData(std::uint64_t offset, std::uint64_t length, const unsigned char* in)
{
    if (length == 0)
        return;
    image_.Write(offset, length, in);
    if (behaviour_.flipByte && *behaviour_.flipByte >= offset &&
        *behaviour_.flipByte < offset + length) {
        const unsigned char flipped = in[*behaviour_.flipByte - offset] ^ 1;
        image_.Write(*behaviour_.flipByte, 1, &flipped);
    }
    ++dataWrites_;
    if (onData_)
        onData_(offset, length);
    if (HoldsMailbox(offset, length))
        replyHeld_ = false;
    if (state_.finishAt)
        ++state_.writesAfterFinish;
    TransferRecord* transfer = Current();
    if (transfer == nullptr) {
        ++state_.strayWrites;
    } else {
        ++transfer->writeRequests;
        transfer->written.Add(offset, offset + length);
    }
    if (behaviour_.pullAtOffset && !pulled_ && *behaviour_.pullAtOffset >= offset &&
        *behaviour_.pullAtOffset < offset + length) {
        pulled_ = true;
        pullPending_ = true;
        present_ = false;
    }
}

TransferRecord* Calculator::Current()
{
    if (state_.transfers.empty() || state_.transfers.back().completed)
        return nullptr;
    return &state_.transfers.back();
}

void Calculator::TakeCommand(const MailboxCommand& command)
{
    bool accepted = true;
    if (command.code == kCmdProgress) {
        accepted = !behaviour_.refuseProgress;
        TakeProgress(command.parameter, accepted);
    } else if (command.code == kCmdFinish) {
        if (!state_.finishAt)
            state_.finishAt = Now();
        ++finishes_;
        lastFinishAt_ = Now();
    } else {
        accepted = false;
    }
    state_.events.push_back(
        {MailboxEvent::Command, Now(), command.code, command.parameter, accepted});
    // A refusal is the code without the reply flag: any other status than the accepted one.
    EncodeReply(reply_, accepted ? (kReplyFlag | command.code) : command.code, command.parameter);
    replyHeld_ = true;
    areaReadSinceCommand_ = false;
    lastCommand_ = command;
    lastAccepted_ = accepted;
}

void Calculator::TakeProgress(std::uint32_t percent, bool accepted)
{
    // The host sends a refused command again right away: it belongs to the same step.
    const bool repeat = lastCommand_ && lastCommand_->code == kCmdProgress &&
                        lastCommand_->parameter == percent && !lastAccepted_ &&
                        !areaReadSinceCommand_ && !state_.transfers.empty();
    if (repeat) {
        ProgressStep& step = state_.transfers.back().progress.back();
        ++step.times;
        step.accepted = accepted;
        state_.transfers.back().endedAt = Now();
        return;
    }
    // A transfer opens with a mailbox-area read and progress 0.
    TransferRecord* transfer = Current();
    if (transfer == nullptr || percent == 0) {
        state_.transfers.emplace_back();
        transfer = &state_.transfers.back();
        transfer->startedAt = Now();
    }
    transfer->progress.push_back({percent, 1, accepted});
    transfer->endedAt = Now();
    if (percent == 100)
        Complete(*transfer);
}

void Calculator::Complete(TransferRecord& transfer)
{
    transfer.completed = true;
    if (transfer.written.Empty())
        return;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const FileRegion& file = files_[i];
        if (file.offset != transfer.written.Lowest() || file.size == 0)
            continue;
        transfer.file = static_cast<int>(i);
        transfer.sha256 = image_.Sha256(file.offset, file.size);
        transfer.coveredWhole = transfer.written.Covers(file.offset, file.offset + file.size);
        transfer.strayBytes = transfer.written.Highest() > RoundUpToSector(file.offset + file.size);
        return;
    }
}
