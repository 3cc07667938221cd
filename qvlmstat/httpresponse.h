// SPDX-License-Identifier: MIT
#pragma once

// The framing of one HTTP/1.1 response, fed as its bytes arrive: the status line and header
// fields, then a body delimited by Content-Length, by chunks, or by the end of the stream.
// Interim (1xx) responses are skipped. The whole response is capped, so that a peer that never
// stops sending is refused once it has sent more than any answer of ours can need. Pure: no
// I/O, tested on its own.

#include <cstddef>
#include <string>
#include <string_view>

namespace ravelin::qvlmstat {

class HttpResponseReader
{
public:
    enum class State { Incomplete, Complete, Bad };

    explicit HttpResponseReader(std::size_t maxSize)
        : m_maxSize(maxSize)
    {}

    // Takes the next bytes of the stream; the state after them. Bytes after a complete response
    // are ignored.
    State feed(std::string_view bytes);
    // The stream has ended: Complete when that ends the body, Bad when the response is cut short.
    State finish();

    State state() const { return m_state; }
    // Once Complete: the final response's status code and its body (chunks joined).
    int status() const { return m_status; }
    std::string_view body() const { return m_body; }

private:
    // Where the next bytes belong: the head, or the body framed one of three ways.
    enum class Part { Head, Length, Chunked, UntilClose };

    State parse();
    // Each returns false when it needs more bytes; each may set m_state.
    bool parseHead();
    bool parseChunk();

    std::size_t m_maxSize;
    std::size_t m_received = 0;
    State m_state = State::Incomplete;
    Part m_part = Part::Head;
    std::size_t m_length = 0;
    int m_status = 0;
    std::string m_pending; // bytes received and not yet parsed
    std::string m_body;
};

} // namespace ravelin::qvlmstat
