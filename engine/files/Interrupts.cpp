#include "files/Interrupts.h"

#include "base/Text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

// Everything here is read by the signal handler, which may only use what is safe
// in one: lock-free atomics, unlink, write and _exit. Slots are claimed with a
// compare-and-swap; the handler reads a slot only once it is marked ready.
constexpr int kSlots = 320; // a picture set of 256 planes and its header, and some
constexpr std::size_t kMaxPath = 4096;
constexpr std::size_t kMaxText = 256;

enum : int { kFree = 0, kFilling = 1, kReady = 2 };

struct TSlot {
    std::atomic<int> State{kFree};
    char Temporary[kMaxPath];
    char Target[kMaxText]; // as shown in the line, quoted and escaped
};

std::array<TSlot, kSlots> gSlots;

// The activity, written under a sequence count: odd while it changes.
std::atomic<unsigned> gActivityVersion{0};
char gActivity[kMaxText];
std::mutex gActivityWriter;

char gProgram[64];

// Holds under way (TInterruptHold), and the signal one of them held back (0: none).
std::atomic<int> gHolds{0};
std::atomic<int> gHeldSignal{0};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free);

void CopyText(char* target, std::size_t capacity, std::string_view text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

// Appends text to the line being built in the handler.
struct TLine {
    char Text[1024];
    std::size_t Length = 0;
    void Add(const char* text) {
        while (*text && Length + 1 < sizeof Text)
            Text[Length++] = *text++;
    }
    void Add(unsigned number) {
        char digits[12];
        int count = 0;
        do {
            digits[count++] = char('0' + number % 10);
            number /= 10;
        } while (number > 0);
        while (count > 0 && Length + 1 < sizeof Text)
            Text[Length++] = digits[--count];
    }
};

const char* SignalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

extern "C" void OnInterrupt(int signal) {
    if (gHolds.load(std::memory_order_acquire) > 0) {
        gHeldSignal.store(signal, std::memory_order_release);
        return;
    }
    unsigned removed = 0;
    const char* firstTarget = nullptr;
    for (TSlot& slot : gSlots) {
        if (slot.State.load(std::memory_order_acquire) != kReady)
            continue;
        if (::unlink(slot.Temporary) == 0 && removed++ == 0)
            firstTarget = slot.Target;
    }

    TLine line;
    line.Add(gProgram);
    line.Add(": interrupted by ");
    line.Add(SignalName(signal));
    char activity[kMaxText];
    const unsigned before = gActivityVersion.load(std::memory_order_acquire);
    std::memcpy(activity, gActivity, sizeof activity);
    std::atomic_thread_fence(std::memory_order_acquire);
    const bool settled = before % 2 == 0 && gActivityVersion.load() == before;
    activity[kMaxText - 1] = '\0';
    if (settled && activity[0] != '\0') {
        line.Add(" while ");
        line.Add(activity);
    }
    if (firstTarget) {
        line.Add("; ");
        line.Add(firstTarget);
        if (removed > 1) {
            line.Add(" and ");
            line.Add(removed - 1);
            line.Add(removed == 2 ? " other file were left as they were"
                                  : " other files were left as they were");
        } else {
            line.Add(" was left as it was");
        }
    }
    line.Add(".\n");
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.Text, line.Length);
    ::_exit(128 + signal);
}

} // namespace

TTemporaryFileGuard::TTemporaryFileGuard(const std::string& temporary, const std::string& target) {
    if (temporary.size() >= kMaxPath)
        return;
    for (int i = 0; i < kSlots; ++i) {
        TSlot& slot = gSlots[std::size_t(i)];
        int expected = kFree;
        if (!slot.State.compare_exchange_strong(expected, kFilling, std::memory_order_acquire))
            continue;
        CopyText(slot.Temporary, kMaxPath, temporary);
        CopyText(slot.Target, kMaxText, QuotedName(target));
        slot.State.store(kReady, std::memory_order_release);
        slot_ = i;
        return;
    }
}

TTemporaryFileGuard::~TTemporaryFileGuard() {
    if (slot_ >= 0)
        gSlots[std::size_t(slot_)].State.store(kFree, std::memory_order_release);
}

TInterruptHold::TInterruptHold() {
    gHolds.fetch_add(1, std::memory_order_acq_rel);
}

TInterruptHold::~TInterruptHold() {
    // A signal that comes after the count reached 0 is handled where it lands; one
    // that came before is in gHeldSignal by then.
    if (gHolds.fetch_sub(1, std::memory_order_acq_rel) == 1)
        if (const int signal = gHeldSignal.exchange(0, std::memory_order_acq_rel))
            OnInterrupt(signal);
}

void InstallInterruptHandlers(std::string_view programName) {
    CopyText(gProgram, sizeof gProgram, programName);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal); // one handler at a time
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

void SetInterruptActivity(std::string_view activity) {
    std::lock_guard lock(gActivityWriter);
    gActivityVersion.fetch_add(1, std::memory_order_acq_rel);
    CopyText(gActivity, kMaxText, activity);
    gActivityVersion.fetch_add(1, std::memory_order_release);
}
