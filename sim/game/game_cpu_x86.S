/* Entering the simulated game's code with chosen registers, and leaving it
   when that code calls the game's exit function. 32-bit x86 only. All data
   lives at fixed addresses in the game's data pages (see game.h), so the code
   needs no relocation. */

#define BLOCK 0x019F0100
#define ENTRY (BLOCK + 0)
#define IN_EAX (BLOCK + 4)
#define IN_EBX (BLOCK + 8)
#define IN_ECX (BLOCK + 12)
#define IN_EDX (BLOCK + 16)
#define IN_ESI (BLOCK + 20)
#define IN_EDI (BLOCK + 24)
#define IN_EBP (BLOCK + 28)
#define IN_ESP (BLOCK + 32)
#define IN_EFLAGS (BLOCK + 36)
#define OUT_EAX (BLOCK + 40)
#define OUT_EBX (BLOCK + 44)
#define OUT_ECX (BLOCK + 48)
#define OUT_EDX (BLOCK + 52)
#define OUT_ESI (BLOCK + 56)
#define OUT_EDI (BLOCK + 60)
#define OUT_EBP (BLOCK + 64)
#define OUT_ESP (BLOCK + 68)
#define OUT_EFLAGS (BLOCK + 72)
#define HOST_EBX (BLOCK + 80)
#define HOST_ESI (BLOCK + 84)
#define HOST_EDI (BLOCK + 88)
#define HOST_EBP (BLOCK + 92)
#define HOST_ESP (BLOCK + 96)

    .text

/* void simGameEnterStub(void): cdecl. Saves the caller's registers, takes the
   game's registers and stack from the block and jumps to ENTRY. */
    .globl simGameEnterStub
    .type simGameEnterStub, @function
simGameEnterStub:
    movl %ebx, HOST_EBX
    movl %esi, HOST_ESI
    movl %edi, HOST_EDI
    movl %ebp, HOST_EBP
    movl %esp, HOST_ESP
    movl IN_ESP, %esp
    pushl IN_EFLAGS
    popfl
    movl IN_EAX, %eax
    movl IN_EBX, %ebx
    movl IN_ECX, %ecx
    movl IN_EDX, %edx
    movl IN_ESI, %esi
    movl IN_EDI, %edi
    movl IN_EBP, %ebp
    jmp *ENTRY

/* Reached by the game's call of its exit function: records the registers,
   the flags and the stack pointer (pointing at that call's return address),
   then returns from simGameEnterStub to its caller. */
    .globl simGameExitStub
    .type simGameExitStub, @function
simGameExitStub:
    movl %esp, OUT_ESP
    pushfl
    popl OUT_EFLAGS
    movl %eax, OUT_EAX
    movl %ebx, OUT_EBX
    movl %ecx, OUT_ECX
    movl %edx, OUT_EDX
    movl %esi, OUT_ESI
    movl %edi, OUT_EDI
    movl %ebp, OUT_EBP
    movl HOST_ESP, %esp
    movl HOST_EBX, %ebx
    movl HOST_ESI, %esi
    movl HOST_EDI, %edi
    movl HOST_EBP, %ebp
    cld
    ret

    .section .note.GNU-stack,"",@progbits
