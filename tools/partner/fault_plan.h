// SPDX-License-Identifier: MIT
// Misbehaviour on cue: each kind of fault is injected at its next n
// occasions, or at each occasion with a probability (seeded, so that a
// soak run can be repeated). Safe to change while the partner runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>

namespace qopartner {

enum class Fault {
    nak_to_stx,     // answer the other side's STX with NAK instead of DLE
    nak_to_end,     // answer a correct closing block with NAK instead of DLE
    silent_to_stx,  // do not answer the other side's STX
    silent_to_end,  // do not answer a correct closing block
    corrupt_bcc,    // send an own telegram with a wrong BCC (3964R only)
    pause,          // pause longer than zvz inside an own telegram
    stray_byte,     // write a stray byte while the line is idle
    conflict,       // answer the other side's STX with an own STX
};

inline constexpr size_t FAULT_KINDS = 8;

// Names as the program's options and the log write them.
inline constexpr std::array<std::string_view, FAULT_KINDS> fault_names = {
    "nak-stx", "nak-end", "silent-stx", "silent-end", "corrupt-bcc", "pause", "stray", "conflict",
};

inline std::string_view fault_name(Fault fault) { return fault_names[static_cast<size_t>(fault)]; }
std::optional<Fault> fault_from_name(std::string_view name);

class FaultPlan {
public:
    explicit FaultPlan(uint64_t seed = 1);

    // Injects the fault at its next `times` occasions (0 disarms the count).
    void arm(Fault fault, int times = 1);
    // Injects the fault at each occasion with this probability (0 to 1),
    // once the armed count is used up.
    void set_probability(Fault fault, double probability);
    void clear();
    void reseed(uint64_t seed);
    // Called after each arm, set_probability and clear, so that a partner
    // waiting on an idle line looks at the plan again.
    void on_change(std::function<void()> hook);

    // Called at an occasion for the fault: true when it is to be injected
    // now (an armed count is used up by one).
    bool fires(Fault fault);
    // True while the fault can still fire (count left or probability > 0).
    bool possible(Fault fault) const;
    int armed(Fault fault) const;

private:
    void changed();

    mutable std::mutex mutex_;
    std::function<void()> hook_;
    std::array<int, FAULT_KINDS> counts_{};
    std::array<double, FAULT_KINDS> probabilities_{};
    std::mt19937_64 random_;
};

}  // namespace qopartner
