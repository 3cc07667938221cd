// SPDX-License-Identifier: MIT
#include "queuewatcher.h"

#include "monitorprotocol.h"
#include "scheduler.h"

#include <algorithm>

namespace ravelin::monitor {

using qvlmstat::DevicePlan;
using qvlmstat::Outcome;
using qvlmstat::QueueReport;
using qvlmstat::ReasonedWord;

namespace {

constexpr std::size_t MaxNameLength = 127;

} // namespace

bool isWatchableName(std::string_view name)
{
    if (name.empty() || name.size() > MaxNameLength || !qvlmstat::protocol::isUtf8(name))
        return false;
    return std::ranges::none_of(name, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F || c == '/' || c == '#';
    });
}

QueueWatcher::QueueWatcher(PrinterTable &table, Log &log, Settings settings)
    : m_table(table)
    , m_log(log)
    , m_settings(std::move(settings))
{
    m_settings.kinds.push_back(standardDeviceKind(m_settings.resolver));
}

QueueWatcher::~QueueWatcher()
{
    stop();
}

void QueueWatcher::start()
{
    m_thread = std::thread(&QueueWatcher::run, this);
}

void QueueWatcher::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_wake.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
    // All at once, so that their readings in progress end together.
    for (auto &[key, reader] : m_readers)
        reader->stop();
    m_readers.clear();
    m_retired.clear();
}

void QueueWatcher::run()
{
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        round();
        next += m_settings.period;
        // A round that overran its period (a silent scheduler) is followed at once, not by a
        // burst of rounds to catch up.
        next = std::max(next, std::chrono::steady_clock::now());
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_until(lock, next, [this] { return m_stopping; }))
            return;
    }
}

void QueueWatcher::round()
{
    const std::uint64_t number = ++m_rounds;
    handOut(number, listed(number));
    std::erase_if(m_retired,
                  [](const std::unique_ptr<DeviceReader> &reader) { return reader->finished(); });
    if (m_settings.afterRound)
        m_settings.afterRound();
}

std::vector<QueueReport> QueueWatcher::listed(std::uint64_t number)
{
    const qvlmstat::SchedulerAddress scheduler = qvlmstat::SchedulerAddress::configured();
    const std::string peer = scheduler.key();
    qvlmstat::QueueList list;
    if (!m_health.mayAsk(peer, &list.why)) {
        list.outcome = Outcome::TimedOut;
    } else {
        list = qvlmstat::listQueues(scheduler, qvlmstat::Deadline(SchedulerBudget),
                                    m_settings.resolver);
        if (list.outcome == Outcome::TimedOut)
            m_health.unresponsive(peer, list.why);
        else
            m_health.answered(peer);
    }

    if (list.outcome != Outcome::Done || !list.why.empty()) {
        if (list.why != m_schedulerWhy)
            m_log.line(list.why);
        m_schedulerWhy = list.why;
        std::vector<QueueReport> failed = m_lastListed;
        for (QueueReport &report : failed) {
            report.outcome = list.outcome == Outcome::Done ? Outcome::Failed : list.outcome;
            report.found = false;
            report.why = list.why;
        }
        return failed;
    }
    if (!m_schedulerWhy.empty() || number == 1)
        m_log.line("the scheduler at " + scheduler.where() + " answers");
    m_schedulerWhy.clear();

    const QueueReport destination = qvlmstat::askScheduler(
        scheduler, {}, qvlmstat::Deadline(SchedulerBudget), m_settings.resolver);
    if (destination.outcome == Outcome::Done) {
        m_table.setDefaultDestination(destination.found && !destination.name.empty()
                                          ? std::optional(destination.name)
                                          : std::nullopt);
    }

    std::vector<QueueReport> watched;
    std::vector<WatchedQueue> queues;
    for (QueueReport &report : list.queues) {
        if (!qvlmstat::isOfTheSeries(report) || !isWatchableName(report.name))
            continue;
        queues.push_back({report.name, report.deviceUri, report.makeAndModel});
        watched.push_back(std::move(report));
    }
    const PrinterTable::Changes changes = m_table.setQueues(queues);
    for (const std::string &name : changes.added) {
        const auto queue = std::ranges::find(queues, name, &WatchedQueue::name);
        const std::string scheme = schemeOf(queue->deviceUri);
        m_log.line("watching " + name + " (" + (scheme.empty() ? "no device" : scheme) + ")");
    }
    for (const std::string &name : changes.removed)
        m_log.line("no longer watching " + name + ": the scheduler no longer lists it");
    m_lastListed = watched;
    return watched;
}

void QueueWatcher::handOut(std::uint64_t number, const std::vector<QueueReport> &reports)
{
    const auto start = std::chrono::steady_clock::now();
    std::map<std::string, std::pair<Round, const DeviceKind *>> rounds;
    std::vector<std::pair<const QueueReport *, ReasonedWord>> words;
    for (const QueueReport &report : reports) {
        DevicePlan plan;
        const DeviceKind *kind = nullptr;
        // A queue the scheduler did not report on this round has no printer to ask.
        for (const DeviceKind &candidate : m_settings.kinds) {
            if (report.outcome != Outcome::Done || !report.found)
                break;
            if (std::optional<DevicePlan> found = candidate.plan(report)) {
                plan = std::move(*found);
                kind = &candidate;
                break;
            }
        }
        if (!kind || plan.key.empty()) {
            words.emplace_back(&report,
                               qvlmstat::withDevice(report.name,
                                                    qvlmstat::schedulerWord(report, report.name),
                                                    plan, nullptr));
            continue;
        }
        auto &[round, roundKind] = rounds[plan.key];
        roundKind = kind;
        round.number = number;
        round.queues.push_back({report, std::move(plan)});
    }
    recordWords(m_table, m_log, number, words, std::chrono::steady_clock::now() - start);

    for (auto reader = m_readers.begin(); reader != m_readers.end();) {
        if (rounds.contains(reader->first)) {
            ++reader;
        } else {
            reader->second->stop();
            m_retired.push_back(std::move(reader->second));
            reader = m_readers.erase(reader);
        }
    }
    for (auto &[key, work] : rounds) {
        std::unique_ptr<DeviceReader> &reader = m_readers[key];
        if (!reader)
            reader = std::make_unique<DeviceReader>(key, *work.second, m_table, m_health, m_log);
        reader->post(std::move(work.first));
    }
}

} // namespace ravelin::monitor
