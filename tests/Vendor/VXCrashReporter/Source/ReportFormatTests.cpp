// Pure data tests of the report format: the field encoder, the async file and
// the signal name tables.
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSignalNames.h"

#include <gtest/gtest.h>

#include <csignal>
#include <protobuf-c/protobuf-c.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

struct MemFile {
    int fd = memfd_create("vxcrash-test", 0);
    ~MemFile() { close(fd); }
    std::vector<uint8_t> contents() const
    {
        std::vector<uint8_t> out((size_t)lseek(fd, 0, SEEK_END));
        if (pread(fd, out.data(), out.size(), 0) != (ssize_t)out.size())
            out.clear();
        return out;
    }
};

TEST(CrashFieldEncoder, EncodesEveryFieldKind)
{
    int32_t minusOne = -1, sMinusOne = -1, fixed32 = 0x01020304;
    int64_t sMinusTwo = -2;
    uint64_t three00 = 300, fixed64 = 0x0102030405060708ull;
    uint32_t five = 5, length300 = 300;
    float oneFloat = 1.0f;
    double oneDouble = 1.0;
    protobuf_c_boolean yes = 1;
    vxcrash_writer_bytes_value_t bytes = {2, "\x00\x01"};

    struct Case {
        uint32_t field;
        ProtobufCType type;
        const void *value;
        std::vector<uint8_t> expected;
    } cases[] = {
        // A negative int32 is sign-extended to ten bytes.
        {1, PROTOBUF_C_TYPE_INT32, &minusOne, {0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
        {1, PROTOBUF_C_TYPE_SINT32, &sMinusOne, {0x08, 0x01}},
        {2, PROTOBUF_C_TYPE_SFIXED32, &fixed32, {0x15, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_FIXED32, &fixed32, {0x15, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_FLOAT, &oneFloat, {0x15, 0x00, 0x00, 0x80, 0x3f}},
        {1, PROTOBUF_C_TYPE_INT64, &three00, {0x08, 0xac, 0x02}},
        {1, PROTOBUF_C_TYPE_UINT64, &three00, {0x08, 0xac, 0x02}},
        {1, PROTOBUF_C_TYPE_SINT64, &sMinusTwo, {0x08, 0x03}},
        {2, PROTOBUF_C_TYPE_FIXED64, &fixed64, {0x11, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_SFIXED64, &fixed64, {0x11, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_DOUBLE, &oneDouble, {0x11, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f}},
        {1, PROTOBUF_C_TYPE_UINT32, &five, {0x08, 0x05}},
        {1, PROTOBUF_C_TYPE_ENUM, &five, {0x08, 0x05}},
        {1, PROTOBUF_C_TYPE_BOOL, &yes, {0x08, 0x01}},
        {3, PROTOBUF_C_TYPE_STRING, "abc", {0x1a, 0x03, 'a', 'b', 'c'}},
        {3, PROTOBUF_C_TYPE_BYTES, &bytes, {0x1a, 0x02, 0x00, 0x01}},
        // A message: its key and length only; the body follows from the caller.
        {16, PROTOBUF_C_TYPE_MESSAGE, &length300, {0x82, 0x01, 0xac, 0x02}},
    };
    for (const Case &c : cases) {
        MemFile mem;
        vxcrash_async_file_t file;
        vxcrash_async_file_init(&file, mem.fd, 0);
        size_t measured = vxcrash_writer_encode_field(nullptr, c.field, c.type, c.value);
        size_t written = vxcrash_writer_encode_field(&file, c.field, c.type, c.value);
        ASSERT_EQ(vxcrash_async_file_flush(&file), VXCRASH_ESUCCESS);
        EXPECT_EQ(measured, written) << "type " << c.type;
        EXPECT_EQ(mem.contents(), c.expected) << "type " << c.type;
        EXPECT_EQ(written, c.expected.size()) << "type " << c.type;
    }
}

TEST(CrashFieldEncoder, VarintsTakeUpToTenBytes)
{
    uint8_t buffer[16];
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, 0), 1u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, 127), 1u);
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, 128), 2u);
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, UINT64_MAX), 10u);
    EXPECT_EQ(buffer[9], 0x01);
}

TEST(CrashAsyncFile, KeepsTheFirstFailureOnceTheLimitIsReached)
{
    MemFile mem;
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, dup(mem.fd), 100);
    std::vector<uint8_t> chunk(60, 0xab);
    EXPECT_EQ(vxcrash_async_file_write(&file, chunk.data(), chunk.size()), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_file_write(&file, chunk.data(), chunk.size()), VXCRASH_OUTPUT_ERR);
    // Once failed, a write that would fit is refused too: the file must not go on with a hole.
    EXPECT_EQ(vxcrash_async_file_write(&file, chunk.data(), 10), VXCRASH_OUTPUT_ERR);
    EXPECT_EQ(vxcrash_async_file_error(&file), VXCRASH_OUTPUT_ERR);
    EXPECT_EQ(vxcrash_async_file_close(&file), VXCRASH_OUTPUT_ERR);
    EXPECT_EQ(mem.contents().size(), 60u);
}

TEST(CrashAsyncFile, WritesLargeAndSmallPiecesInOrder)
{
    MemFile mem;
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, dup(mem.fd), 0);
    std::vector<uint8_t> expected;
    for (size_t size : {3u, 2000u, 1u, 1023u, 1024u, 5000u}) {
        std::vector<uint8_t> piece(size);
        for (size_t i = 0; i < size; ++i)
            piece[i] = (uint8_t)(expected.size() + i);
        ASSERT_EQ(vxcrash_async_file_write(&file, piece.data(), piece.size()), VXCRASH_ESUCCESS);
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(vxcrash_async_file_close(&file), VXCRASH_ESUCCESS);
    EXPECT_EQ(mem.contents(), expected);
}

TEST(CrashAsyncFile, AFailedWriteIsReported)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fds[1], 0);
    EXPECT_EQ(vxcrash_async_file_write(&file, "abc", 3), VXCRASH_ESUCCESS); // buffered
    EXPECT_EQ(vxcrash_async_file_close(&file), VXCRASH_OUTPUT_ERR);
}

TEST(CrashSignalNames, UseThisSystemsNumbers)
{
    EXPECT_STREQ(vxcrash_async_signal_signame(7), "SIGBUS");
    EXPECT_STREQ(vxcrash_async_signal_signame(SIGSEGV), "SIGSEGV");
    EXPECT_STREQ(vxcrash_async_signal_signame(SIGABRT), "SIGABRT");
    EXPECT_EQ(vxcrash_async_signal_signame(0), nullptr);
    EXPECT_EQ(vxcrash_async_signal_signame(99), nullptr);

    struct Case {
        int signo, code;
        const char *name;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"}, {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
        {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},    {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},
        {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},    {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
        {SIGABRT, SI_TKILL, "SI_TKILL"},       {SIGSEGV, SI_KERNEL, "SI_KERNEL"},
        {SIGABRT, SI_USER, "SI_USER"},         {SIGSEGV, SI_QUEUE, "SI_QUEUE"},
        {SIGABRT, 1, nullptr},                 {SIGSEGV, 77, nullptr},
    };
    for (const Case &c : cases) {
        const char *name = vxcrash_async_signal_sigcode(c.signo, c.code);
        if (c.name == nullptr)
            EXPECT_EQ(name, nullptr) << c.signo << "/" << c.code;
        else
            EXPECT_STREQ(name, c.name) << c.signo << "/" << c.code;
    }
}

} // namespace
