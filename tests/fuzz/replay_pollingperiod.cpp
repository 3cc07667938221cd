// SPDX-License-Identifier: MIT
// Runs the polling period fuzz entry without libFuzzer, so that its checks guard every build:
// over each seed file in the folders given, then over texts drawn with a fixed seed from the
// characters the reader treats specially, and over some long ones. The first failed check
// aborts with the text.
//
//   replay_pollingperiod SEED_FOLDER...

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void run(const std::string &bytes)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

// Pieces a period's text is made of, and a few it must stop at, in UTF-8; the last three are an
// Arabic-Indic and a full-width digit one, and a byte that is no UTF-8.
const char *const Pieces[] = {"0",   "1",    "2",     "4",     "5",     "5",        "6",
                              "9",   "9",    ".",     ".",     "E",     "e",        "+",
                              "-",   "&",    "H",     "h",     "O",     "o",        "F",
                              "a",   "8",    " ",     "\t",    "\n",    "\r",       ",",
                              "x",   "0000", "65535", "65536", "99999", "\xd9\xa1", "\xef\xbc\x91",
                              "\xff"};

std::string drawn(std::mt19937 &random, std::size_t pieces)
{
    std::uniform_int_distribution<std::size_t> pick(0, std::size(Pieces) - 1);
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i)
        text += Pieces[pick(random)];
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    int seeds = 0;
    for (int i = 1; i < argc; ++i) {
        const QDir folder(QString::fromLocal8Bit(argv[i]));
        for (const QString &name : folder.entryList(QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
                return 1;
            }
            run(file.readAll().toStdString());
            ++seeds;
        }
    }
    if (seeds == 0) {
        std::fprintf(stderr, "no seeds: give the seed folder\n");
        return 1;
    }

    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> length(0, 24);
    constexpr int Drawn = 5000;
    for (int i = 0; i < Drawn; ++i)
        run(drawn(random, length(random)));
    for (int i = 0; i < 20; ++i)
        run(drawn(random, 2000));
    std::printf("%d seeds and %d drawn texts: the readers agree\n", seeds, Drawn + 20);
    return 0;
}
