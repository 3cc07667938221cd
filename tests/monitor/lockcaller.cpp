// SPDX-License-Identifier: MIT
// A program that calls a status library's GetPrinterStatus many times on threads of its own, for
// the device lock's test: prints how often each word came, one "WORD COUNT" line per word.
//
//   lockcaller LIBRARY QUEUE CALLS THREADS

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fputs("usage: lockcaller LIBRARY QUEUE CALLS THREADS\n", stderr);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    using GetPrinterStatus = std::int32_t (*)(const char *);
    const auto call =
        library ? reinterpret_cast<GetPrinterStatus>(dlsym(library, "GetPrinterStatus")) : nullptr;
    if (!call) {
        std::fprintf(stderr, "lockcaller: %s\n", dlerror());
        return 1;
    }
    const int calls = std::atoi(argv[3]);
    std::mutex mutex;
    std::map<std::int32_t, int> words;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < std::atoi(argv[4]); ++thread) {
        threads.emplace_back([&] {
            for (int i = 0; i < calls; ++i) {
                const std::int32_t word = call(argv[2]);
                const std::lock_guard lock(mutex);
                ++words[word];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (const auto &[word, count] : words)
        std::printf("0x%04X %d\n", static_cast<unsigned>(word), count);
    return 0;
}
