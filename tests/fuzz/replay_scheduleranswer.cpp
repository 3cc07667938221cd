// SPDX-License-Identifier: MIT
// Runs the scheduler answer fuzz entry without libFuzzer, so that its checks guard every build:
// over each seed file in the folders given, then over messages drawn with a fixed seed from the
// pieces the framing reader treats specially, some cut short, and over some long ones. The
// first failed check aborts with the message.
//
//   replay_scheduleranswer SEED_FOLDER...

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void run(const std::string &bytes)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

// A tag, a two-byte name length and name, a two-byte value length and value.
std::string entry(char tag, const std::string &name = {}, const std::string &value = {})
{
    const auto length = [](std::size_t size) {
        return std::string{char(size >> 8), char(size & 0xff)};
    };
    return tag + length(name.size()) + name + length(value.size()) + value;
}

const std::vector<std::string> &pieces()
{
    static const std::vector<std::string> all = {
        // Group tags, the end tag, and a tag that is neither.
        "\x01", "\x04", "\x04", "\x05", std::string(1, '\0'), "\x03",
        // Attributes of a queue, right and wrong.
        entry('\x23', "printer-state", std::string("\0\0\0\x03", 4)),
        entry('\x23', "printer-state", std::string("\0\0\0\x09", 4)),
        entry('\x21', "printer-state", std::string("\0\0\0\x04", 4)),
        entry('\x44', "printer-state-reasons", "media-low"), entry('\x44', {}, "cover-open"),
        entry('\x21', "printer-state-reasons", std::string("\0\0\0\x01", 4)),
        entry('\x42', "printer-name", "QVT-Fuzz"), entry('\x41', "printer-make-and-model", "QVT"),
        entry('\x45', "device-uri", "socket://127.0.0.1:9100"),
        entry('\x45', "device-uri", "serial:/dev/tty%5?baud=1"), entry('\x13', "device-uri"),
        // Collections, directly and through extension tags.
        entry('\x34', "media-col"), entry('\x34'), entry('\x4a', {}, "member"), entry('\x37'),
        std::string("\x7f\0\0\0\x34", 5), std::string("\x7f\0\0\0\x03", 5),
        std::string("\x7f\x80\0\0\0", 5), std::string("\x37\0\x03\0\0", 5),
        // Pieces cut short.
        std::string("\x44\x00", 2), std::string("\x44\x00\x01x\x00\x05", 6) + "ab"};
    return all;
}

std::string drawn(std::mt19937 &random, std::size_t count)
{
    std::uniform_int_distribution<std::size_t> pick(0, pieces().size() - 1);
    std::uniform_int_distribution<int> coin(0, 9);
    // The header: a successful answer, mostly; an unknown queue's now and then.
    std::string message = coin(random) == 0 ? std::string("\x02\0\x04\x06\0\0\0\x01", 8)
                                            : std::string("\x02\0\0\0\0\0\0\x01", 8);
    for (std::size_t i = 0; i < count; ++i)
        message += pieces()[pick(random)];
    if (coin(random) < 8)
        message += '\x03';
    return message;
}

} // namespace

int main(int argc, char **argv)
{
    int seeds = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        std::vector<std::filesystem::path> files;
        for (const auto &file : std::filesystem::directory_iterator(argv[i], error))
            files.push_back(file.path());
        for (const auto &file : files) {
            std::ifstream in(file, std::ios::binary);
            run(std::string(std::istreambuf_iterator<char>(in), {}));
            ++seeds;
        }
    }
    if (seeds == 0) {
        std::fprintf(stderr, "no seeds: give the seed folder\n");
        return 1;
    }

    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> length(0, 30);
    constexpr int Drawn = 5000;
    for (int i = 0; i < Drawn; ++i)
        run(drawn(random, length(random)));
    for (int i = 0; i < 20; ++i)
        run(drawn(random, 2000));
    std::printf("%d seeds and %d drawn messages: the readers agree\n", seeds, Drawn + 20);
    return 0;
}
