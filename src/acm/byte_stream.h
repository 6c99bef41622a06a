#pragma once
// Where the encoder's bytes go and where the decoder's bytes come from: a caller's callback,
// a buffer in memory, or (in the programs) a file. The writer and the reader of the format
// only see these two interfaces.

#include <cstddef>  // std::size_t
#include <cstdint>  // std::uint8_t
#include <memory>   // std::unique_ptr

namespace vellox {

class ByteSink {
public:
    ByteSink() = default;
    virtual ~ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    // Takes size bytes (size >= 1); returns how many were taken, size when all went well.
    // Anything less is a failure, and the stream writes nothing after it.
    [[nodiscard]] virtual std::size_t write(const std::uint8_t* bytes, std::size_t size) = 0;
};

class ByteSource {
public:
    ByteSource() = default;
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Reads up to size bytes into bytes and sets *got; fewer than size only at the end of the
    // stream. False on a read error (then *got is what arrived before it).
    [[nodiscard]] virtual bool read(std::uint8_t* bytes, std::size_t size, std::size_t* got) = 0;
};

// A growing buffer in memory. A write fails, taking nothing, when the memory cannot be had.
class MemorySink final : public ByteSink {
public:
    MemorySink() = default;
    std::size_t write(const std::uint8_t* bytes, std::size_t size) override;

    const std::uint8_t* data() const { return buffer.get(); }
    std::size_t size() const { return used; }

private:
    std::unique_ptr<std::uint8_t[]> buffer;  // capacity bytes, the first used of them written
    std::size_t used = 0;                    // bytes written
    std::size_t capacity = 0;                // bytes allocated
};

// Bytes the caller holds in memory; borrowed for the source's life.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size);
    bool read(std::uint8_t* bytes, std::size_t size, std::size_t* got) override;

private:
    const std::uint8_t* next;  // borrowed: the next byte to hand out
    std::size_t left;          // bytes not handed out yet
};

// A caller's write function: 0 when all size bytes were taken.
using WriteFunction = int (*)(void* user, const unsigned char* bytes, std::size_t size);

class CallbackSink final : public ByteSink {
public:
    CallbackSink(WriteFunction write_bytes, void* context) : function(write_bytes), user(context) {}
    std::size_t write(const std::uint8_t* bytes, std::size_t size) override {
        return function(user, bytes, size) == 0 ? size : 0;
    }

private:
    WriteFunction function;
    void* user;  // borrowed; handed back to function
};

// A caller's read function: 0 when all went well; *got may be less than size, and 0 only at
// the end of the stream.
using ReadFunction = int (*)(void* user, unsigned char* bytes, std::size_t size, std::size_t* got);

class CallbackSource final : public ByteSource {
public:
    CallbackSource(ReadFunction read_bytes, void* context) : function(read_bytes), user(context) {}
    bool read(std::uint8_t* bytes, std::size_t size, std::size_t* got) override;

private:
    ReadFunction function;
    void* user;  // borrowed; handed back to function
};

}  // namespace vellox
