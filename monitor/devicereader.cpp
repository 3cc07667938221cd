// SPDX-License-Identifier: MIT
#include "devicereader.h"

#include <algorithm>

namespace ravelin::monitor {

using qvlmstat::DevicePlan;
using qvlmstat::DeviceReading;
using qvlmstat::ReasonedWord;

DeviceKind standardDeviceKind(qvlmstat::Resolver resolver)
{
    return {
        [](const qvlmstat::QueueReport &report) {
            return std::optional<DevicePlan>(qvlmstat::devicePlan(report));
        },
        [resolver](const DevicePlan &plan, const qvlmstat::Deadline &deadline) {
            return qvlmstat::askDevice(plan.device, deadline, resolver, qvlmstat::DeviceLock::Try);
        },
    };
}

void recordWords(PrinterTable &table, Log &log, std::uint64_t round,
                 const std::vector<std::pair<const qvlmstat::QueueReport *, ReasonedWord>> &words,
                 std::chrono::steady_clock::duration took)
{
    const auto at = std::chrono::system_clock::now();
    for (const auto &[report, word] : words) {
        if (const std::optional<std::string> change =
                table.record(report->name, report->deviceUri, round, word, at, took)) {
            log.line(*change);
        }
    }
}

DeviceReader::DeviceReader(std::string key, const DeviceKind &kind, PrinterTable &table,
                           qvlmstat::PeerHealth &health, Log &log)
    : m_key(std::move(key))
    , m_kind(kind)
    , m_table(table)
    , m_health(health)
    , m_log(log)
    , m_thread(&DeviceReader::run, this)
{}

DeviceReader::~DeviceReader()
{
    stop();
    m_thread.join();
}

void DeviceReader::post(Round round)
{
    const std::lock_guard lock(m_mutex);
    m_next = std::move(round);
    m_wake.notify_one();
}

void DeviceReader::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_wake.notify_one();
}

bool DeviceReader::stopping()
{
    const std::lock_guard lock(m_mutex);
    return m_stopping;
}

void DeviceReader::run()
{
    for (;;) {
        Round round;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_next; });
            if (m_stopping)
                break;
            round = std::move(*m_next);
            m_next.reset();
        }
        read(round);
    }
    m_finished = true;
}

void DeviceReader::read(const Round &round)
{
    if (round.queues.empty())
        return;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::pair<const qvlmstat::QueueReport *, ReasonedWord>> words;
    const auto each = [&](auto wordOf) {
        words.clear();
        for (const Round::Queue &queue : round.queues) {
            const ReasonedWord scheduler = qvlmstat::schedulerWord(queue.report, queue.report.name);
            words.emplace_back(&queue.report, wordOf(queue, scheduler));
        }
        recordWords(m_table, m_log, round.number, words, std::chrono::steady_clock::now() - start);
    };

    // The scheduler's word alone.
    const auto schedulerAlone = [](const Round::Queue &queue, const ReasonedWord &scheduler) {
        DevicePlan notNow = queue.plan;
        notNow.step = DevicePlan::Step::NotNow;
        return qvlmstat::withDevice(queue.report.name, scheduler, notNow, nullptr);
    };
    // A job printing on a serial line, device file or USB printer, from any of its queues, keeps
    // every request off it.
    const bool askNow = std::ranges::all_of(round.queues, [](const Round::Queue &queue) {
        return queue.plan.step == DevicePlan::Step::Ask;
    });
    if (!askNow) {
        each(schedulerAlone);
        return;
    }
    if (std::string why; !m_health.mayAsk(m_key, &why)) {
        each([&why](const Round::Queue &queue, const ReasonedWord &scheduler) {
            return qvlmstat::withDevice(queue.report.name, scheduler, queue.plan, nullptr, why);
        });
        return;
    }
    const DeviceReading reading =
        m_kind.read(round.queues.front().plan, qvlmstat::Deadline(ReadingBudget));
    // A reading that ends after the reader was stopped is of a device no longer watched, or of
    // none: the monitor is ending.
    if (stopping())
        return;
    if (reading.busy) {
        // Another program is talking to it: this round is skipped and the last word stands, or,
        // when a job holds the printer, the scheduler's word stands alone.
        if (m_kind.busy == DeviceKind::Busy::SchedulerWord) {
            m_health.answered(m_key);
            each(schedulerAlone);
        }
        return;
    }
    if (reading.outcome == qvlmstat::Outcome::TimedOut)
        m_health.unresponsive(m_key, reading.why);
    else
        m_health.answered(m_key);
    each([&reading](const Round::Queue &queue, const ReasonedWord &scheduler) {
        return qvlmstat::withDevice(queue.report.name, scheduler, queue.plan, &reading);
    });
}

} // namespace ravelin::monitor
