// The call thunk of the stack checker. It pushes the argument words as a
// 32-bit host does, notes ESP at the call instruction, loads EBX/ESI/EDI with
// known values, calls, and compares afterwards. Its own frame is rebuilt from
// EBP, so a callee that pops the wrong count is measured, not fatal.
#include "StackProbe.h"

#if !defined(__i386__)
#error "the stack probe is i686 only: x86_64 has one calling convention"
#endif

// Frame: [ebp+8] pfn, [ebp+12] pArgs, [ebp+16] nArgs, [ebp+20] pProbe;
// [ebp-16] ESP at the call.
extern "C" __attribute__((naked)) void __cdecl StackProbeCall(FARPROC, const DWORD *, int, SCallProbe *) {
    asm volatile(
        ".intel_syntax noprefix\n"
        "push ebp\n"
        "mov ebp, esp\n"
        "push ebx\n"
        "push esi\n"
        "push edi\n"
        "sub esp, 4\n"
        "mov esi, [ebp+12]\n"
        "mov ecx, [ebp+16]\n"
        "1:\n"
        "test ecx, ecx\n"
        "jz 2f\n"
        "dec ecx\n"
        "push dword ptr [esi+ecx*4]\n"
        "jmp 1b\n"
        "2:\n"
        "mov [ebp-16], esp\n"
        "mov ebx, esp\n"
        "mov esi, 0x51515151\n"
        "mov edi, 0xD1D1D1D1\n"
        "cld\n"
        "call dword ptr [ebp+8]\n"
        "mov edx, [ebp+20]\n"
        "mov [edx], eax\n"
        "mov ecx, esp\n"
        "sub ecx, [ebp-16]\n"
        "mov [edx+4], ecx\n"
        "xor eax, eax\n"
        "cmp ebx, [ebp-16]\n"
        "jne 3f\n"
        "cmp esi, 0x51515151\n"
        "jne 3f\n"
        "cmp edi, 0xD1D1D1D1\n"
        "jne 3f\n"
        "pushfd\n"
        "pop ecx\n"
        "test ecx, 0x400\n"
        "jnz 3f\n"
        "mov eax, 1\n"
        "3:\n"
        "mov [edx+8], eax\n"
        "lea esp, [ebp-12]\n"
        "pop edi\n"
        "pop esi\n"
        "pop ebx\n"
        "pop ebp\n"
        "ret\n"
        ".att_syntax prefix\n");
}
