// SPDX-License-Identifier: MIT
#include "httpresponse.h"

#include "asciitext.h"

#include <optional>

namespace ravelin::qvlmstat {

namespace {

constexpr std::string_view LineEnd = "\r\n";
// A chunk-size line longer than this is not one.
constexpr std::size_t MaxChunkLine = 1024;

} // namespace

HttpResponseReader::State HttpResponseReader::feed(std::string_view bytes)
{
    if (m_state != State::Incomplete)
        return m_state;
    m_received += bytes.size();
    if (m_received > m_maxSize)
        return m_state = State::Bad;
    m_pending.append(bytes);
    return parse();
}

HttpResponseReader::State HttpResponseReader::finish()
{
    if (m_state != State::Incomplete)
        return m_state;
    if (m_part == Part::UntilClose) {
        m_body = std::move(m_pending);
        return m_state = State::Complete;
    }
    return m_state = State::Bad;
}

HttpResponseReader::State HttpResponseReader::parse()
{
    while (m_state == State::Incomplete) {
        if (m_part == Part::Head) {
            if (!parseHead())
                break;
        } else if (m_part == Part::Length) {
            if (m_pending.size() >= m_length) {
                m_body = m_pending.substr(0, m_length);
                m_state = State::Complete;
            }
            break;
        } else if (m_part == Part::Chunked) {
            if (!parseChunk())
                break;
        } else {
            break; // until the stream ends
        }
    }
    return m_state;
}

bool HttpResponseReader::parseHead()
{
    const std::size_t end = m_pending.find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    std::string_view head(m_pending.data(), end);

    // "HTTP/1.x NNN reason"
    std::string_view line = head.substr(0, head.find(LineEnd));
    // Too short for a status code: "HTTP/1.x" alone, say.
    const std::size_t status = line.size() >= 12 ? wholeNumber(line.substr(9, 3)).value_or(0) : 0;
    if (status < 100 || !line.starts_with("HTTP/1.") || line[8] != ' ' ||
        (line.size() > 12 && line[12] != ' ')) {
        m_state = State::Bad;
        return false;
    }
    head.remove_prefix(std::min(head.size(), line.size() + LineEnd.size()));

    std::optional<std::size_t> length;
    bool chunked = false;
    while (!head.empty()) {
        line = head.substr(0, head.find(LineEnd));
        head.remove_prefix(std::min(head.size(), line.size() + LineEnd.size()));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            m_state = State::Bad;
            return false;
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "content-length")) {
            const std::optional<std::size_t> given = wholeNumber(value);
            if (!given || *given > m_maxSize || (length && *length != *given)) {
                m_state = State::Bad;
                return false;
            }
            length = given;
        } else if (equalsIgnoringCase(name, "transfer-encoding")) {
            // Chunked alone can be read here; gzip and the like cannot.
            if (!equalsIgnoringCase(value, "chunked")) {
                m_state = State::Bad;
                return false;
            }
            chunked = true;
        }
    }
    m_pending.erase(0, end + 4);
    if (status < 200)
        return true; // an interim response: the final one follows
    m_status = static_cast<int>(status);
    m_part = chunked ? Part::Chunked : length ? Part::Length : Part::UntilClose;
    m_length = length.value_or(0);
    return true;
}

bool HttpResponseReader::parseChunk()
{
    const std::size_t lineEnd = m_pending.find(LineEnd);
    if (lineEnd == std::string::npos) {
        if (m_pending.size() > MaxChunkLine)
            m_state = State::Bad;
        return false;
    }
    // "size[;extension]"
    std::string_view sizeText(m_pending.data(), lineEnd);
    sizeText = trimmed(sizeText.substr(0, sizeText.find(';')));
    const std::optional<std::size_t> size = wholeNumber(sizeText, 16);
    if (!size || *size > m_maxSize) {
        m_state = State::Bad;
        return false;
    }
    if (*size == 0) { // the last chunk; trailer fields are not needed
        m_state = State::Complete;
        return false;
    }
    const std::size_t dataStart = lineEnd + LineEnd.size();
    if (m_pending.size() < dataStart + *size + LineEnd.size())
        return false;
    if (std::string_view(m_pending).substr(dataStart + *size, LineEnd.size()) != LineEnd) {
        m_state = State::Bad;
        return false;
    }
    m_body.append(m_pending, dataStart, *size);
    m_pending.erase(0, dataStart + *size + LineEnd.size());
    return true;
}

} // namespace ravelin::qvlmstat
