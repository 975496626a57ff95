// Small helpers shared by the fuzz targets: reading set-up values off the
// front of the input, and a check that stops the run with a message (so the
// fuzzer records the input as a crash).
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes bytes off the front of the fuzzer's input.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    bool empty() const { return n_ == 0; }
    size_t remaining() const { return n_; }
    uint8_t byte()
    {
        if (n_ == 0)
            return 0;
        --n_;
        return *p_++;
    }
    uint16_t word() { return uint16_t(byte() | (byte() << 8)); }
    // Up to `count` bytes (fewer when the input runs out).
    QByteArray bytes(size_t count)
    {
        if (count > n_)
            count = n_;
        QByteArray b(reinterpret_cast<const char*>(p_), qsizetype(count));
        p_ += count;
        n_ -= count;
        return b;
    }
    QByteArray rest() { return bytes(n_); }

private:
    const uint8_t* p_;
    size_t n_;
};

#define FUZZ_CHECK(cond, ...)                                                            \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, "  " __VA_ARGS__);                                     \
            std::fprintf(stderr, "\n");                                                 \
            std::abort();                                                               \
        }                                                                               \
    } while (0)
