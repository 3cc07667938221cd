// SPDX-License-Identifier: MIT
#pragma once

// The simulated printer itself: the four bytes it answers to the real-time status request
// (DLE EOT n), the fault it plays, what it has received, and the commands that change them. No
// descriptors here; main.cpp connects it to the TCP port, the pseudo-terminals and stdin.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravelin::printersim {

// A valid answer has bits 1 and 4 set and bits 0 and 7 clear: (b & 0x93) == 0x12.
inline constexpr std::uint8_t PlainAnswer = 0x12;

enum class Fault { None, Silent, Invalid, Trickle, Close };

// Finds the requests in a connection's byte stream, one byte at a time.
class RequestReader
{
public:
    // The n (1 to 4) of the request that this byte completes, or 0.
    int feed(std::uint8_t byte);
    void restart() { m_matched = 0; }

private:
    int m_matched = 0; // bytes of "DLE EOT" seen so far
};

// What a command line did besides its answer line.
struct Outcome
{
    std::string reply; // "ok ..." or "error ..."
    bool quit = false;
    bool resetDone = false;
    bool faultChanged = false;
};

class Printer
{
public:
    // The byte answered to DLE EOT n under the current fault, or none.
    std::optional<std::uint8_t> answerTo(int n) const;
    Fault fault() const { return m_fault; }
    // How long it takes to answer each request, one after the other (the "delay" command); zero:
    // at once.
    std::chrono::milliseconds answerDelay() const { return m_answerDelay; }

    // Records a byte received from any connection (the record is bounded).
    void record(std::uint8_t byte);
    void countConnection() { ++m_connections; }

    // Turns the state one step round the demonstration cycle.
    void advanceCycle();

    // Runs one command line.
    Outcome run(std::string_view line);

private:
    Outcome setAnswer(const std::vector<std::string_view> &words);
    Outcome setState(const std::vector<std::string_view> &words);
    Outcome setFault(const std::vector<std::string_view> &words);
    Outcome setDelay(const std::vector<std::string_view> &words);
    std::string receivedText() const;

    std::array<std::uint8_t, 4> m_answers{PlainAnswer, PlainAnswer, PlainAnswer, PlainAnswer};
    Fault m_fault = Fault::None;
    std::chrono::milliseconds m_answerDelay{0};
    std::vector<std::uint8_t> m_received;
    unsigned long m_connections = 0;
    std::size_t m_cycleStep = 0;
};

} // namespace ravelin::printersim
