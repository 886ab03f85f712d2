// Pure data tests of the unwinding pieces: thread state tables, register
// permutations, the compact-unwind reader over section bytes made here, entry
// application on a synthetic stack, LEB128, checked reads, the frame-pointer
// reader and the cursor. Nothing here raises a signal or walks a real stack.
#include "Vendor/VXCrashReporter/Source/VXCrashCompactUnwind.h"
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwind.h"
#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// --- thread state ------------------------------------------------------------

TEST(CrashThreadState, RegisterNamesAndCountsFollowTheTables) {
    vxcrash_async_thread_state_t s64, s32;
    ASSERT_EQ(vxcrash_async_thread_state_init(&s64, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);
    ASSERT_EQ(vxcrash_async_thread_state_init(&s32, VXCRASH_CPU_TYPE_X86), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg_count(&s64), 21u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg_count(&s32), 16u);
    EXPECT_EQ(vxcrash_async_thread_state_get_greg_size(&s64), 8u);
    EXPECT_EQ(vxcrash_async_thread_state_get_greg_size(&s32), 4u);
    EXPECT_EQ(vxcrash_async_thread_state_get_stack_direction(&s64), VXCRASH_STACK_DIRECTION_DOWN);

    const char* names64[] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx",    "rdi", "rsi", "r8", "r9",
                             "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs",  "fs",  "gs"};
    for (vxcrash_regnum_t i = 0; i < 21; ++i)
        EXPECT_STREQ(vxcrash_async_thread_state_get_reg_name(&s64, i), names64[i]) << i;
    const char* names32[] = {"eip", "ebp",    "esp",    "eax", "edx", "ecx", "ebx", "esi",
                             "edi", "eflags", "trapno", "cs",  "ds",  "es",  "fs",  "gs"};
    for (vxcrash_regnum_t i = 0; i < 16; ++i)
        EXPECT_STREQ(vxcrash_async_thread_state_get_reg_name(&s32, i), names32[i]) << i;

    vxcrash_async_thread_state_t other;
    EXPECT_EQ(vxcrash_async_thread_state_init(&other, VXCRASH_CPU_TYPE_ARM64), VXCRASH_ENOTSUP);
}

TEST(CrashThreadState, DwarfNumbersMapBothWays) {
    vxcrash_async_thread_state_t s64, s32;
    vxcrash_async_thread_state_init(&s64, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_init(&s32, VXCRASH_CPU_TYPE_X86);
    struct Case {
        vxcrash_async_thread_state_t* state;
        vxcrash_regnum_t generic;
        uint64_t dwarf;
    } cases[] = {
        {&s64, VXCRASH_X86_64_RAX, 0},  {&s64, VXCRASH_X86_64_RDX, 1},     {&s64, VXCRASH_X86_64_RBX, 3},
        {&s64, VXCRASH_X86_64_RBP, 6},  {&s64, VXCRASH_X86_64_RSP, 7},     {&s64, VXCRASH_X86_64_R8, 8},
        {&s64, VXCRASH_X86_64_R15, 15}, {&s64, VXCRASH_X86_64_RFLAGS, 49}, {&s64, VXCRASH_X86_64_GS, 55},
        {&s32, VXCRASH_X86_EAX, 0},     {&s32, VXCRASH_X86_ECX, 1},        {&s32, VXCRASH_X86_EBP, 4},
        {&s32, VXCRASH_X86_EIP, 8},
    };
    for (const Case& c : cases) {
        vxcrash_regnum_t generic;
        uint64_t dwarf;
        ASSERT_TRUE(vxcrash_async_thread_state_map_dwarf_to_reg(c.state, c.dwarf, &generic)) << c.dwarf;
        EXPECT_EQ(generic, c.generic);
        ASSERT_TRUE(vxcrash_async_thread_state_map_reg_to_dwarf(c.state, c.generic, &dwarf));
        EXPECT_EQ(dwarf, c.dwarf);
    }
    uint64_t dwarf;
    vxcrash_regnum_t generic;
    EXPECT_FALSE(vxcrash_async_thread_state_map_reg_to_dwarf(&s64, VXCRASH_X86_64_RIP, &dwarf));
    EXPECT_FALSE(vxcrash_async_thread_state_map_dwarf_to_reg(&s64, 16, &generic));
}

TEST(CrashThreadState, VolatileRegistersAreClearedAndX86ValuesAre32Bit) {
    vxcrash_async_thread_state_t s;
    vxcrash_async_thread_state_init(&s, VXCRASH_CPU_TYPE_X86_64);
    for (vxcrash_regnum_t i = 0; i < 21; ++i) vxcrash_async_thread_state_set_reg(&s, i, 100 + i);
    vxcrash_async_thread_state_clear_volatile_regs(&s);
    std::vector<vxcrash_regnum_t> kept;
    for (vxcrash_regnum_t i = 0; i < 21; ++i)
        if (vxcrash_async_thread_state_has_reg(&s, i)) kept.push_back(i);
    EXPECT_EQ(kept, (std::vector<vxcrash_regnum_t>{1, 2, 4, 13, 14, 15, 16}));

    vxcrash_async_thread_state_t x86;
    vxcrash_async_thread_state_init(&x86, VXCRASH_CPU_TYPE_X86);
    vxcrash_async_thread_state_set_reg(&x86, VXCRASH_X86_EBX, 0x1234567890ull);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&x86, VXCRASH_X86_EBX), 0x34567890ull);
}

TEST(CrashThreadState, UcontextFillsEveryRegister) {
    ucontext_t uc;
    memset(&uc, 0, sizeof(uc));
    uc.uc_mcontext.gregs[REG_RIP] = 0x1111;
    uc.uc_mcontext.gregs[REG_RSP] = 0x2222;
    uc.uc_mcontext.gregs[REG_R15] = 0x3333;
    uc.uc_mcontext.gregs[REG_CSGSFS] = (greg_t)((0x2bull << 32) | (0x0ull << 16) | 0x33ull);
    vxcrash_async_thread_state_t s;
    vxcrash_async_thread_state_ucontext_init(&s, &uc);
    for (vxcrash_regnum_t i = 0; i < 21; ++i) EXPECT_TRUE(vxcrash_async_thread_state_has_reg(&s, i));
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&s, VXCRASH_X86_64_RIP), 0x1111u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&s, VXCRASH_X86_64_RSP), 0x2222u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&s, VXCRASH_X86_64_R15), 0x3333u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&s, VXCRASH_X86_64_CS), 0x33u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&s, VXCRASH_X86_64_FS), 0x2bu);
}

// --- register permutations -----------------------------------------------------

TEST(CrashCompactUnwindPermutation, EncodesAndDecodesKnownLists) {
    struct Case {
        std::vector<uint32_t> registers;
        uint32_t permutation;
    } cases[] = {
        {{1, 2, 3, 4, 5, 6}, 0},
        {{1, 2, 3, 4, 5}, 0},
        {{6, 5, 4, 3, 2}, 120 * 5 + 24 * 4 + 6 * 3 + 2 * 2 + 1},
        {{2, 1, 3, 4}, 60},
        {{3, 1, 6}, 20 * 2 + 0 + 3},
        {{6, 1}, 25},
        {{4}, 3},
    };
    for (const Case& c : cases) {
        uint32_t count = (uint32_t)c.registers.size();
        EXPECT_EQ(vxcrash_async_cfe_register_encode_permutation(c.registers.data(), count), c.permutation);
        std::vector<uint32_t> decoded(count);
        ASSERT_EQ(vxcrash_async_cfe_register_decode_permutation(c.permutation, count, decoded.data()),
                  VXCRASH_ESUCCESS);
        if (count == 6)
            EXPECT_EQ(decoded, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
        else
            EXPECT_EQ(decoded, c.registers);
    }
}

TEST(CrashCompactUnwindPermutation, EveryOrderingRoundTrips) {
    for (uint32_t count = 1; count <= 5; ++count) {
        std::vector<uint32_t> pool = {1, 2, 3, 4, 5, 6};
        // All ordered selections of count registers out of six.
        std::vector<bool> pick(6, false);
        std::fill(pick.begin(), pick.begin() + count, true);
        std::sort(pick.begin(), pick.end());
        size_t seen = 0;
        do {
            std::vector<uint32_t> chosen;
            for (size_t i = 0; i < 6; ++i)
                if (pick[i]) chosen.push_back(pool[i]);
            do {
                uint32_t p = vxcrash_async_cfe_register_encode_permutation(chosen.data(), count);
                std::vector<uint32_t> back(count);
                ASSERT_EQ(vxcrash_async_cfe_register_decode_permutation(p, count, back.data()), VXCRASH_ESUCCESS);
                ASSERT_EQ(back, chosen);
                ++seen;
            } while (std::next_permutation(chosen.begin(), chosen.end()));
        } while (std::next_permutation(pick.begin(), pick.end()));
        EXPECT_GT(seen, 0u);
    }
}

TEST(CrashCompactUnwindPermutation, RejectsBadCountsAndDigits) {
    uint32_t out[7];
    EXPECT_EQ(vxcrash_async_cfe_register_decode_permutation(0, 7, out), VXCRASH_EINVAL);
    EXPECT_EQ(vxcrash_async_cfe_register_decode_permutation(0, 0, out), VXCRASH_ESUCCESS);
    // A single register numbered past six.
    EXPECT_EQ(vxcrash_async_cfe_register_decode_permutation(6, 1, out), VXCRASH_EINVAL);
}

// --- compact-unwind section ------------------------------------------------------

struct Section {
    std::vector<uint8_t> bytes;

    void put32(size_t at, uint32_t v) {
        if (bytes.size() < at + 4) bytes.resize(at + 4);
        memcpy(&bytes[at], &v, 4);
    }
    void put16(size_t at, uint16_t v) {
        if (bytes.size() < at + 2) bytes.resize(at + 2);
        memcpy(&bytes[at], &v, 2);
    }
    vxcrash_async_mobject_t mobject() const {
        vxcrash_async_mobject_t m;
        vxcrash_async_mobject_init(&m, (uintptr_t)bytes.data(), bytes.size(), bytes.data());
        return m;
    }
};

constexpr uint32_t kEncA = 0x01000000;  // frame based, no registers
constexpr uint32_t kEncB = 0x02040000;  // frameless, 32 bytes
constexpr uint32_t kCommon0 = 0x01010000;
constexpr uint32_t kCommon1 = 0x02020000;
constexpr uint32_t kPageOwn = 0x04000123;  // DWARF

// Header, two common encodings, a two-entry first level plus sentinel, a
// regular page for 0x1000.. and a compressed page for 0x2000.. whose last
// entry uses the page's own encoding.
Section makeSection() {
    Section s;
    s.put32(0, 1);   // version
    s.put32(4, 28);  // common encodings
    s.put32(8, 2);
    s.put32(12, 36);  // personalities
    s.put32(16, 0);
    s.put32(20, 36);  // index
    s.put32(24, 3);
    s.put32(28, kCommon0);
    s.put32(32, kCommon1);
    // first level
    s.put32(36, 0x1000);
    s.put32(40, 72);
    s.put32(44, 0);
    s.put32(48, 0x2000);
    s.put32(52, 96);
    s.put32(56, 0);
    s.put32(60, 0x3000);
    s.put32(64, 0);
    s.put32(68, 0);
    // regular page
    s.put32(72, 2);
    s.put16(76, 8);
    s.put16(78, 2);
    s.put32(80, 0x1000);
    s.put32(84, kEncA);
    s.put32(88, 0x1800);
    s.put32(92, kEncB);
    // compressed page
    s.put32(96, 3);
    s.put16(100, 12);
    s.put16(102, 3);
    s.put16(104, 24);
    s.put16(106, 1);
    s.put32(108, (0u << 24) | 0x000);
    s.put32(112, (1u << 24) | 0x100);
    s.put32(116, (2u << 24) | 0x400);
    s.put32(120, kPageOwn);
    return s;
}

TEST(CrashCompactUnwindReader, FindsFunctionsInBothPageKinds) {
    Section s = makeSection();
    vxcrash_async_mobject_t m = s.mobject();
    vxcrash_async_cfe_reader_t reader;
    ASSERT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);

    struct Case {
        uint64_t pc;
        uint64_t function;
        uint32_t encoding;
    } cases[] = {
        {0x1000, 0x1000, kEncA},    {0x17ff, 0x1000, kEncA},    {0x1800, 0x1800, kEncB},    {0x1fff, 0x1800, kEncB},
        {0x2000, 0x2000, kCommon0}, {0x2150, 0x2100, kCommon1}, {0x2400, 0x2400, kPageOwn}, {0x2fff, 0x2400, kPageOwn},
    };
    for (const Case& c : cases) {
        uint64_t function = 0;
        uint32_t encoding = 0;
        ASSERT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, c.pc, &function, &encoding), VXCRASH_ESUCCESS)
            << std::hex << c.pc;
        EXPECT_EQ(function, c.function) << std::hex << c.pc;
        EXPECT_EQ(encoding, c.encoding) << std::hex << c.pc;
    }
    uint64_t function;
    uint32_t encoding;
    EXPECT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, 0xfff, &function, &encoding), VXCRASH_ENOTFOUND);
}

TEST(CrashCompactUnwindReader, RejectsMalformedSections) {
    vxcrash_async_cfe_reader_t reader;
    uint64_t function;
    uint32_t encoding;

    Section wrongVersion = makeSection();
    wrongVersion.put32(0, 2);
    vxcrash_async_mobject_t m = wrongVersion.mobject();
    EXPECT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ENOTSUP);

    Section s = makeSection();
    m = s.mobject();
    EXPECT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, 18), VXCRASH_ENOTSUP);

    Section tiny;
    tiny.put32(0, 1);
    m = tiny.mobject();
    EXPECT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_EINVAL);

    Section noIndex = makeSection();
    noIndex.put32(24, 0);
    m = noIndex.mobject();
    ASSERT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, 0x1000, &function, &encoding), VXCRASH_ENOTFOUND);

    Section badIndex = makeSection();
    badIndex.put32(24, 1000);  // index runs past the section
    m = badIndex.mobject();
    ASSERT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, 0x1000, &function, &encoding), VXCRASH_EINVAL);

    Section badLocal = makeSection();
    badLocal.put32(116, (3u << 24) | 0x400);  // page has one encoding of its own, index 3 - 2 = 1 is past it
    m = badLocal.mobject();
    ASSERT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, 0x2500, &function, &encoding), VXCRASH_EINVAL);

    Section badKind = makeSection();
    badKind.put32(72, 7);
    m = badKind.mobject();
    ASSERT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, 0x1000, &function, &encoding), VXCRASH_EINVAL);
}

// The entries of a second-level page may end the section: looking up a pc past
// the last entry must not read an entry beyond them.
TEST(CrashCompactUnwindReader, SecondLevelSearchStaysInsideThePage) {
    Section s;
    s.put32(0, 1);
    s.put32(4, 28);
    s.put32(8, 0);
    s.put32(12, 28);
    s.put32(16, 0);
    s.put32(20, 28);
    s.put32(24, 2);
    s.put32(28, 0x1000);
    s.put32(32, 52);
    s.put32(36, 0);
    s.put32(40, 0x9000);
    s.put32(44, 0);
    s.put32(48, 0);
    s.put32(52, 2);
    s.put16(56, 8);
    s.put16(58, 2);
    s.put32(60, 0x1000);
    s.put32(64, kEncA);
    s.put32(68, 0x1400);
    s.put32(72, kEncB);  // last bytes of the section
    ASSERT_EQ(s.bytes.size(), 76u);

    vxcrash_async_mobject_t m = s.mobject();
    vxcrash_async_cfe_reader_t reader;
    ASSERT_EQ(vxcrash_async_cfe_reader_init(&reader, &m, VXCRASH_CPU_TYPE_X86_64), VXCRASH_ESUCCESS);
    uint64_t function;
    uint32_t encoding;
    ASSERT_EQ(vxcrash_async_cfe_reader_find_pc(&reader, 0x8000, &function, &encoding), VXCRASH_ESUCCESS);
    EXPECT_EQ(function, 0x1400u);
    EXPECT_EQ(encoding, kEncB);
}

// --- entry decoding ----------------------------------------------------------------

TEST(CrashCompactUnwindEntry, DecodesX86_64Encodings) {
    vxcrash_async_cfe_entry_t e;
    const uint32_t R = VXCRASH_ASYNC_CFE_NO_REGISTER;

    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x00000000), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_cfe_entry_type(&e), VXCRASH_ASYNC_CFE_ENTRY_TYPE_NONE);

    // Frame based: registers at rbp - 16; fields 1 (rbx), 0 (none), 6 (rbp).
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x01020000 | 1 | (0 << 3) | (6 << 6)),
              VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR);
    EXPECT_EQ(e.stack_offset, -16);
    ASSERT_EQ(e.register_count, 3u);
    EXPECT_EQ(e.register_list[0], (uint32_t)VXCRASH_X86_64_RBX);
    EXPECT_EQ(e.register_list[1], R);
    EXPECT_EQ(e.register_list[2], (uint32_t)VXCRASH_X86_64_RBP);
    EXPECT_EQ(e.return_address_register, R);

    // Frameless, immediate: 48 bytes, registers r12 then rbx.
    uint32_t regs[] = {2, 1};
    uint32_t perm = vxcrash_async_cfe_register_encode_permutation(regs, 2);
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x02060000 | (2 << 10) | perm),
              VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD);
    EXPECT_EQ(e.stack_offset, 48);
    ASSERT_EQ(e.register_count, 2u);
    EXPECT_EQ(e.register_list[0], (uint32_t)VXCRASH_X86_64_R12);
    EXPECT_EQ(e.register_list[1], (uint32_t)VXCRASH_X86_64_RBX);

    // Frameless, indirect: immediate at offset 5, adjustment 3 words.
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x03050000 | (3 << 13)), VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT);
    EXPECT_EQ(e.stack_offset, 5);
    EXPECT_EQ(e.stack_adjust, 24u);

    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x04abcdef), VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF);
    EXPECT_EQ(e.stack_offset, 0xabcdef);

    EXPECT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x05000000), VXCRASH_ENOTSUP);
    EXPECT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x01000007), VXCRASH_EINVAL);
}

TEST(CrashCompactUnwindEntry, DecodesX86AndArm64Encodings) {
    vxcrash_async_cfe_entry_t e;
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86, 0x01030000 | 1 | (5 << 3) | (6 << 6)),
              VXCRASH_ESUCCESS);
    EXPECT_EQ(e.stack_offset, -12);
    ASSERT_EQ(e.register_count, 3u);
    EXPECT_EQ(e.register_list[0], (uint32_t)VXCRASH_X86_EBX);
    EXPECT_EQ(e.register_list[1], (uint32_t)VXCRASH_X86_ESI);
    EXPECT_EQ(e.register_list[2], (uint32_t)VXCRASH_X86_EBP);
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86, 0x02050000), VXCRASH_ESUCCESS);
    EXPECT_EQ(e.stack_offset, 20);

    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_ARM64, 0x04000000 | 0x01 | 0x10), VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR);
    EXPECT_EQ(e.register_count, 4u);
    EXPECT_EQ(e.stack_offset, -32);
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_ARM64, 0x02003000), VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD);
    EXPECT_EQ(e.stack_offset, 48);
    EXPECT_NE(e.return_address_register, VXCRASH_ASYNC_CFE_NO_REGISTER);
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_ARM64, 0x03000040), VXCRASH_ESUCCESS);
    EXPECT_EQ(e.type, VXCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF);
    EXPECT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_ARM64, 0x01000000), VXCRASH_ENOTSUP);
}

// --- applying entries to a synthetic stack ------------------------------------------

struct CrashApplyFixture : ::testing::Test {
    uint64_t stack[32] = {};
    vxcrash_async_task_t task;
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_t out;

    void SetUp() override {
        vxcrash_async_task_init(&task);
        vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    }
    uint64_t at(size_t i) const { return (uint64_t)(uintptr_t)&stack[i]; }
    uint64_t reg(vxcrash_regnum_t r) const { return vxcrash_async_thread_state_get_reg(&out, r); }
};

TEST_F(CrashApplyFixture, FrameBasedRestoresRbxThenRbpFromConsecutiveWords) {
    stack[8] = 0xB1;       // rbx
    stack[9] = 0xB2;       // rbp, saved in the frame
    stack[10] = at(20);    // caller's frame pointer
    stack[11] = 0x401000;  // return address
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, at(10));
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_IP, 0x500000);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_X86_64_RAX, 7);

    vxcrash_async_cfe_entry_t e;
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x01020000 | 1 | (6 << 3)), VXCRASH_ESUCCESS);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ESUCCESS);
    EXPECT_EQ(reg(VXCRASH_REG_IP), 0x401000u);
    EXPECT_EQ(reg(VXCRASH_REG_SP), at(12));
    EXPECT_EQ(reg(VXCRASH_X86_64_RBX), 0xB1u);
    EXPECT_EQ(reg(VXCRASH_X86_64_RBP), 0xB2u);
    EXPECT_FALSE(vxcrash_async_thread_state_has_reg(&out, VXCRASH_X86_64_RAX));

    vxcrash_async_thread_state_clear_reg(&state, VXCRASH_REG_FP);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ENOTFOUND);
}

TEST_F(CrashApplyFixture, FramelessImmediateAndIndirect) {
    // 32 bytes of frame: two saved registers, then the return address.
    stack[1] = 0xC1;
    stack[2] = 0xC2;
    stack[3] = 0x402000;
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_SP, at(0));
    uint32_t regs[] = {5, 1};  // r15, rbx
    uint32_t perm = vxcrash_async_cfe_register_encode_permutation(regs, 2);

    vxcrash_async_cfe_entry_t e;
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x02040000 | (2 << 10) | perm),
              VXCRASH_ESUCCESS);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ESUCCESS);
    EXPECT_EQ(reg(VXCRASH_REG_SP), at(4));
    EXPECT_EQ(reg(VXCRASH_REG_IP), 0x402000u);
    EXPECT_EQ(reg(VXCRASH_X86_64_R15), 0xC1u);
    EXPECT_EQ(reg(VXCRASH_X86_64_RBX), 0xC2u);

    // The same frame, its size read from the function's "sub $24, %rsp" immediate plus one word.
    uint8_t function[16] = {};
    uint32_t immediate = 24;
    memcpy(function + 6, &immediate, 4);
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x03060000 | (1 << 13) | (2 << 10) | perm),
              VXCRASH_ESUCCESS);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&task, (uint64_t)(uintptr_t)function, &state, &e, &out), VXCRASH_ESUCCESS);
    EXPECT_EQ(reg(VXCRASH_REG_SP), at(4));
    EXPECT_EQ(reg(VXCRASH_REG_IP), 0x402000u);
    EXPECT_EQ(reg(VXCRASH_X86_64_R15), 0xC1u);

    vxcrash_async_thread_state_clear_reg(&state, VXCRASH_REG_SP);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ENOTFOUND);
}

TEST_F(CrashApplyFixture, DwarfNoneAndForeignEntriesAreNotApplied) {
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_SP, at(0));
    vxcrash_async_cfe_entry_t e;
    vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0x04000010);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ENOTSUP);
    vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86_64, 0);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ENOTSUP);
    vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_ARM64, 0x04000001);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ENOTSUP);
}

TEST(CrashCompactUnwindApply, X86FrameReadsFourByteWords) {
    // 32-bit addresses need memory below 4 GiB.
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    auto* words = static_cast<uint32_t*>(page);
    uint32_t base = (uint32_t)(uintptr_t)page;
    words[4] = 0xE1;       // ebx at ebp - 4
    words[5] = base + 40;  // saved ebp
    words[6] = 0x8048000;  // return address
    vxcrash_async_thread_state_t state, out;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, base + 20);
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_cfe_entry_t e;
    ASSERT_EQ(vxcrash_async_cfe_entry_init(&e, VXCRASH_CPU_TYPE_X86, 0x01010000 | 1), VXCRASH_ESUCCESS);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&task, 0, &state, &e, &out), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&out, VXCRASH_REG_IP), 0x8048000u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&out, VXCRASH_REG_FP), base + 40u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&out, VXCRASH_REG_SP), base + 28u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&out, VXCRASH_X86_EBX), 0xE1u);
    munmap(page, 4096);
}

// The compact-unwind frame reader finds an image's section through the image list.
TEST(CrashCompactUnwindFrameReader, StepsThroughAnImageThatCarriesTheSection) {
    // An image whose functions start 0x1000 bytes after its header; the frame
    // at 0x1800 is frameless with 32 bytes (kEncB).
    Section section = makeSection();
    auto list = std::make_unique<vxcrash_async_image_list_t>();
    vxcrash_async_image_t image{};
    image.header_address = 0x10000000;
    image.start = 0x10000000;
    image.end = 0x10004000;
    image.machine = 62;  // x86-64
    image.unwind_info = (uintptr_t)section.bytes.data();
    image.unwind_info_size = section.bytes.size();
    ASSERT_EQ(vxcrash_async_image_list_append(list.get(), &image), VXCRASH_ESUCCESS);

    uint64_t stack[8] = {0, 0, 0, 0x10001004, 0, 0, 0, 0};
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_IP, 0x10001810);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_SP, (uint64_t)(uintptr_t)stack);
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_frame_cursor_t cursor;
    vxcrash_async_frame_cursor_init(&cursor, &task, &state, list.get());
    const vxcrash_async_frame_reader_t readers[] = {vxcrash_async_cfe_frame_reader};
    ASSERT_EQ(vxcrash_async_frame_cursor_next_with_readers(&cursor, readers, 1), VXCRASH_FRAME_ESUCCESS);
    ASSERT_EQ(vxcrash_async_frame_cursor_next_with_readers(&cursor, readers, 1), VXCRASH_FRAME_ESUCCESS);
    uint64_t pc, sp;
    ASSERT_EQ(vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc), VXCRASH_FRAME_ESUCCESS);
    ASSERT_EQ(vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_SP, &sp), VXCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(pc, 0x10001004u);
    EXPECT_EQ(sp, (uint64_t)(uintptr_t)&stack[4]);
    // The caller at 0x10001004 (function 0x1000, frame based) needs a frame pointer it lacks.
    EXPECT_NE(vxcrash_async_frame_cursor_next_with_readers(&cursor, readers, 1), VXCRASH_FRAME_ESUCCESS);
}

// --- LEB128 ----------------------------------------------------------------------

TEST(CrashLeb128, DecodesValuesAndReportsTheirLength) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint64_t unsignedValue;
        int64_t signedValue;
    } cases[] = {
        {{0x00}, 0, 0},
        {{0x02}, 2, 2},
        {{0x7f}, 127, -1},
        {{0x80, 0x01}, 128, 128},
        {{0xe5, 0x8e, 0x26}, 624485, 624485},
        {{0xc0, 0xbb, 0x78}, 1973696, -123456},
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}, UINT64_MAX, -1},
    };
    for (const Case& c : cases) {
        vxcrash_async_mobject_t m;
        vxcrash_async_mobject_init(&m, (uintptr_t)c.bytes.data(), c.bytes.size(), c.bytes.data());
        uint64_t u;
        int64_t s;
        size_t n;
        ASSERT_EQ(vxcrash_async_mobject_read_uleb128(&m, m.address, 0, &u, &n), VXCRASH_ESUCCESS);
        EXPECT_EQ(u, c.unsignedValue);
        EXPECT_EQ(n, c.bytes.size());
        ASSERT_EQ(vxcrash_async_mobject_read_sleb128(&m, m.address, 0, &s, &n), VXCRASH_ESUCCESS);
        EXPECT_EQ(s, c.signedValue);
        EXPECT_EQ(n, c.bytes.size());
    }
}

TEST(CrashLeb128, RejectsOverlongAndTruncatedValues) {
    std::vector<uint8_t> overlong(11, 0x80);
    overlong.back() = 0x01;
    vxcrash_async_mobject_t m;
    vxcrash_async_mobject_init(&m, (uintptr_t)overlong.data(), overlong.size(), overlong.data());
    uint64_t u;
    int64_t s;
    size_t n;
    EXPECT_EQ(vxcrash_async_mobject_read_uleb128(&m, m.address, 0, &u, &n), VXCRASH_ENOTSUP);
    EXPECT_EQ(vxcrash_async_mobject_read_sleb128(&m, m.address, 0, &s, &n), VXCRASH_ENOTSUP);

    std::vector<uint8_t> cut = {0x80, 0x80};
    vxcrash_async_mobject_init(&m, (uintptr_t)cut.data(), cut.size(), cut.data());
    EXPECT_EQ(vxcrash_async_mobject_read_uleb128(&m, m.address, 0, &u, &n), VXCRASH_EINVAL);
    EXPECT_EQ(vxcrash_async_mobject_read_sleb128(&m, m.address, 0, &s, &n), VXCRASH_EINVAL);
}

struct CrashGuardedPage : ::testing::Test {
    uint8_t* pages = nullptr;
    long size = sysconf(_SC_PAGESIZE);
    void SetUp() override {
        void* p = mmap(nullptr, (size_t)size * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(p, MAP_FAILED);
        pages = static_cast<uint8_t*>(p);
        ASSERT_EQ(mprotect(pages + size, (size_t)size, PROT_NONE), 0);
    }
    void TearDown() override { munmap(pages, (size_t)size * 2); }
};

// A value that ends just before an unreadable page decodes: only its own bytes are read.
TEST_F(CrashGuardedPage, TaskLeb128ReadsOnlyTheValuesBytes) {
    uint8_t* end = pages + size;
    end[-3] = 0xe5;
    end[-2] = 0x8e;
    end[-1] = 0x26;
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    uint64_t u;
    int64_t s;
    size_t n;
    ASSERT_EQ(vxcrash_async_task_read_uleb128(&task, (uintptr_t)end, -3, &u, &n), VXCRASH_ESUCCESS);
    EXPECT_EQ(u, 624485u);
    EXPECT_EQ(n, 3u);
    ASSERT_EQ(vxcrash_async_task_read_sleb128(&task, (uintptr_t)end, -3, &s, &n), VXCRASH_ESUCCESS);
    EXPECT_EQ(s, 624485);

    end[-1] = 0xa6;  // now continues into the unreadable page
    vxcrash_async_task_flush(&task);
    EXPECT_EQ(vxcrash_async_task_read_uleb128(&task, (uintptr_t)end, -3, &u, &n), VXCRASH_EINVAL);
}

TEST_F(CrashGuardedPage, CheckedReadsFailInsteadOfFaulting) {
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    uint64_t v = 0;
    pages[size - 8] = 0x5a;
    EXPECT_EQ(vxcrash_async_task_read_uint64(&task, (uintptr_t)pages, size - 8, &v), VXCRASH_ESUCCESS);
    EXPECT_EQ(v & 0xff, 0x5au);
    EXPECT_EQ(vxcrash_async_task_read_uint64(&task, (uintptr_t)pages, size - 4, &v), VXCRASH_EACCESS);
    EXPECT_EQ(vxcrash_async_task_read_uint64(&task, (uintptr_t)pages + size, 0, &v), VXCRASH_EACCESS);
    EXPECT_EQ(vxcrash_async_task_read_uint64(&task, 0, 0, &v), VXCRASH_EACCESS);
    EXPECT_EQ(vxcrash_async_task_read_uint64(&task, UINTPTR_MAX - 2, 0, &v), VXCRASH_EINVAL);
}

// Where the kernel refuses process_vm_readv, reads go through a pipe; its lock
// may be held by a thread parked for a report, which never lets go: the read
// then takes a pipe of its own instead of waiting for ever. A wait here
// shows as the test never ending (the CTest timeout); the bounded spin's
// length depends on the machine's load, so no wall-clock limit is set.
TEST_F(CrashGuardedPage, PipeReadsDoNotWaitForAHeldPipe) {
    vxcrash_async_read_memory_use_pipe(true);
    pages[size - 8] = 0x5a;
    for (bool held : {false, true}) {
        SCOPED_TRACE(held ? "pipe held" : "pipe free");
        if (held) vxcrash_async_spinlock_lock(vxcrash_async_read_memory_pipe_lock());
        uint64_t v = 0;
        EXPECT_EQ(vxcrash_async_read_memory((uintptr_t)pages + size - 8, &v, sizeof(v)), VXCRASH_ESUCCESS);
        EXPECT_EQ(v & 0xff, 0x5au);
        EXPECT_EQ(vxcrash_async_read_memory((uintptr_t)pages + size - 4, &v, sizeof(v)), VXCRASH_EACCESS);
        EXPECT_EQ(vxcrash_async_read_memory((uintptr_t)pages + size, &v, sizeof(v)), VXCRASH_EACCESS);
        if (held) vxcrash_async_spinlock_unlock(vxcrash_async_read_memory_pipe_lock());
    }
    // The shared pipe still works after the reads that went around it.
    uint64_t v = 0;
    EXPECT_EQ(vxcrash_async_read_memory((uintptr_t)pages + size - 8, &v, sizeof(v)), VXCRASH_ESUCCESS);
    EXPECT_EQ(v & 0xff, 0x5au);
    vxcrash_async_read_memory_use_pipe(false);
}

// --- DWARF expressions -------------------------------------------------------------

TEST(CrashDwarfExpression, EvaluatesStackAndRegisterOperations) {
    uint64_t word = 0x1122334455667788ull;
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_X86_64_RSP, 1000);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_X86_64_RBX, (uint64_t)(uintptr_t)&word - 8);

    struct Case {
        std::vector<uint8_t> program;
        bool pushCfa;
        uint64_t expected;
    } cases[] = {
        {{0x35}, false, 5},                                // lit5
        {{0x77, 0x10}, false, 1016},                       // breg7 (rsp) + 16
        {{0x77, 0x70}, false, 984},                        // breg7 - 16
        {{0x23, 0x08}, true, 2008},                        // cfa + 8
        {{0x08, 10, 0x08, 3, 0x1c}, false, 7},             // 10 - 3
        {{0x73, 0x08, 0x06}, false, word},                 // *(rbx + 8)
        {{0x31, 0x28, 0x01, 0x00, 0x35, 0x36}, false, 6},  // bra taken over lit5
        {{0x30, 0x28, 0x01, 0x00, 0x35}, false, 5},        // bra not taken
        {{0x2f, 0x01, 0x00, 0x35, 0x37}, false, 7},        // skip over lit5
        {{0x32, 0x33, 0x16, 0x1c}, false, 1},              // swap then 3 - 2
    };
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    for (const Case& c : cases) {
        vxcrash_async_mobject_t m;
        vxcrash_async_mobject_init(&m, (uintptr_t)c.program.data(), c.program.size(), c.program.data());
        uint64_t cfa = 2000, result = 0;
        ASSERT_EQ(vxcrash_async_dwarf_expression_eval(&task, &m, m.address, m.length, &state,
                                                      c.pushCfa ? &cfa : nullptr, &result),
                  VXCRASH_ESUCCESS);
        EXPECT_EQ(result, c.expected);
    }
    std::vector<uint8_t> loop = {0x2f, 0xfd, 0xff};  // skip -3: itself, forever
    vxcrash_async_mobject_t m;
    vxcrash_async_mobject_init(&m, (uintptr_t)loop.data(), loop.size(), loop.data());
    uint64_t result;
    EXPECT_NE(vxcrash_async_dwarf_expression_eval(&task, &m, m.address, m.length, &state, nullptr, &result),
              VXCRASH_ESUCCESS);
}

// --- frame pointer reader and cursor --------------------------------------------------

TEST(CrashFramePointerReader, FollowsTheChainAndRefusesFramesMovingUp) {
    uint64_t stack[16] = {};
    auto at = [&](size_t i) { return (uint64_t)(uintptr_t)&stack[i]; };
    stack[2] = at(6);
    stack[3] = 0x402222;
    stack[6] = at(10);
    stack[7] = 0x403333;
    stack[10] = at(1);  // points back up the stack: corrupt
    stack[11] = 0x404444;
    stack[12] = at(12);  // points at itself
    stack[13] = 0x405555;

    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_thread_state_t first, second, third;
    vxcrash_async_thread_state_init(&first, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_set_reg(&first, VXCRASH_REG_IP, 0x401111);
    vxcrash_async_thread_state_set_reg(&first, VXCRASH_REG_FP, at(2));
    vxcrash_async_thread_state_set_reg(&first, VXCRASH_X86_64_RBX, 9);

    ASSERT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &first, nullptr, &second), VXCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&second, VXCRASH_REG_IP), 0x402222u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&second, VXCRASH_REG_FP), at(6));
    // The caller's stack pointer is just past the record: DWARF can take over.
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&second, VXCRASH_REG_SP), at(4));
    EXPECT_FALSE(vxcrash_async_thread_state_has_reg(&second, VXCRASH_X86_64_RBX));

    ASSERT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &second, &first, &third), VXCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&third, VXCRASH_REG_FP), at(10));
    // A record whose link goes back up the stack is refused when read.
    vxcrash_async_thread_state_t fourth;
    EXPECT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &third, &second, &fourth), VXCRASH_FRAME_EBADFRAME);

    // So is one that links to itself (a walk would repeat it without end).
    vxcrash_async_thread_state_t looping = first;
    vxcrash_async_thread_state_set_reg(&looping, VXCRASH_REG_FP, at(12));
    EXPECT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &looping, nullptr, &fourth), VXCRASH_FRAME_EBADFRAME);
    // And a record below the stack pointer.
    vxcrash_async_thread_state_set_reg(&looping, VXCRASH_REG_FP, at(2));
    vxcrash_async_thread_state_set_reg(&looping, VXCRASH_REG_SP, at(4));
    EXPECT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &looping, nullptr, &fourth), VXCRASH_FRAME_EBADFRAME);

    vxcrash_async_thread_state_set_reg(&first, VXCRASH_REG_FP, 0);
    EXPECT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &first, nullptr, &second), VXCRASH_FRAME_ENOFRAME);
    vxcrash_async_thread_state_clear_reg(&first, VXCRASH_REG_FP);
    EXPECT_EQ(vxcrash_async_fp_frame_reader(&task, nullptr, &first, nullptr, &second), VXCRASH_FRAME_EBADFRAME);
}

std::vector<bool> g_previousSeen;

vxcrash_async_frame_cursor_error_t recordingReader(vxcrash_async_task_t*, vxcrash_async_image_list_t*,
                                                   const vxcrash_async_thread_state_t* current,
                                                   const vxcrash_async_thread_state_t* previous,
                                                   vxcrash_async_thread_state_t* next) {
    g_previousSeen.push_back(previous != nullptr);
    *next = *current;
    uint64_t ip = vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_IP);
    vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_IP, ip - 0x1000);
    return VXCRASH_FRAME_ESUCCESS;
}

vxcrash_async_frame_cursor_error_t failingReader(vxcrash_async_task_t*, vxcrash_async_image_list_t*,
                                                 const vxcrash_async_thread_state_t*,
                                                 const vxcrash_async_thread_state_t*, vxcrash_async_thread_state_t*) {
    return VXCRASH_FRAME_EBADFRAME;
}

TEST(CrashFrameCursor, YieldsTheStartFirstAndEndsInTheFirstPage) {
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_IP, 0x3800);
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_frame_cursor_t cursor;
    ASSERT_EQ(vxcrash_async_frame_cursor_init(&cursor, &task, &state, nullptr), VXCRASH_ESUCCESS);

    g_previousSeen.clear();
    const vxcrash_async_frame_reader_t readers[] = {failingReader, recordingReader};
    std::vector<uint64_t> pcs;
    while (vxcrash_async_frame_cursor_next_with_readers(&cursor, readers, 2) == VXCRASH_FRAME_ESUCCESS) {
        uint64_t pc;
        ASSERT_EQ(vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc), VXCRASH_FRAME_ESUCCESS);
        pcs.push_back(pc);
    }
    EXPECT_EQ(pcs, (std::vector<uint64_t>{0x3800, 0x2800, 0x1800}));
    // The step from the start had no previous frame; later ones had.
    EXPECT_EQ(g_previousSeen, (std::vector<bool>{false, true, true}));
    uint64_t value;
    EXPECT_EQ(vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_X86_64_RAX, &value), VXCRASH_FRAME_ENOTSUP);

    const vxcrash_async_frame_reader_t none[] = {failingReader};
    vxcrash_async_frame_cursor_init(&cursor, &task, &state, nullptr);
    EXPECT_EQ(vxcrash_async_frame_cursor_next_with_readers(&cursor, none, 1), VXCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(vxcrash_async_frame_cursor_next_with_readers(&cursor, none, 1), VXCRASH_FRAME_EBADFRAME);
}

TEST(CrashFrameCursor, ErrorTexts) {
    EXPECT_STREQ(vxcrash_frame_strerror(0), "No error");
    EXPECT_STREQ(vxcrash_frame_strerror(2), "No frames are available");
    EXPECT_STREQ(vxcrash_frame_strerror(7), "Invalid register");
    EXPECT_STREQ(vxcrash_frame_strerror(99), "Unhandled error code");
}

}  // namespace
