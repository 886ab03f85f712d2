// Three noinline functions a -> b -> c, built once with frame pointers and once
// without, that walk their own stack from c.
#pragma once

#include <cstddef>
#include <cstdint>

struct WalkRecord {
    // Return addresses as each function saw them: where c returns into b, b into a, a into its caller.
    uint64_t returnIntoB = 0;
    uint64_t returnIntoA = 0;
    uint64_t returnIntoCaller = 0;
    uint64_t cStart = 0;
    bool framePointerOnly = false;
    size_t count = 0;
    uint64_t pcs[64] = {};
};

namespace walk_fp {
void a(WalkRecord* record);
}
namespace walk_nofp {
void a(WalkRecord* record);
// a -> a frame-pointer frame without unwind information -> c: after the
// frame-pointer step, a (no frame pointer) needs the DWARF reader again.
void aThroughTrampoline(WalkRecord* record);
}  // namespace walk_nofp

// The hand-written frame: push rbp; mov rsp, rbp; call *next; pop rbp; ret.
extern "C" void vxtest_fp_trampoline(WalkRecord* record, void (*next)(WalkRecord*));
extern "C" char vxtest_fp_trampoline_return[];  // the address its call returns to

// Walks the current stack into record (every reader, or frame pointers only).
void walkCurrentStack(WalkRecord* record);
// Walks from a state made of c's own frame pointer and a pc inside c.
void walkFromFramePointer(WalkRecord* record, uint64_t fp, uint64_t pc);
