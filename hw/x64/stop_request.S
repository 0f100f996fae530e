/* uint16_t hw::SimulatorStopRequest(void)
 * CPUID with EAX = 0xBACCD00B, EBX = 2, SI = 0; returns SI. RFLAGS, RBX, RCX,
 * RDX and RSI are saved and restored. System V calling convention (called
 * from C++ inside the image). */
    .text
    .globl _ZN2hw20SimulatorStopRequestEv
    .type _ZN2hw20SimulatorStopRequestEv, @function
_ZN2hw20SimulatorStopRequestEv:
    pushfq
    pushq %rbx
    pushq %rcx
    pushq %rdx
    pushq %rsi
    xorl %esi, %esi
    movl $0xBACCD00B, %eax
    movl $2, %ebx
    cpuid
    movzwl %si, %eax
    popq %rsi
    popq %rdx
    popq %rcx
    popq %rbx
    popfq
    ret
    .size _ZN2hw20SimulatorStopRequestEv, .-_ZN2hw20SimulatorStopRequestEv

/* void hw::DebugPortHandoff(uint32_t command, uint32_t value, uint32_t length)
 * EDX = command (DX is the port), EAX = value (the data written), EBX =
 * length, one 32-bit OUT. EAX and EBX are restored afterwards. */
    .globl _ZN2hw16DebugPortHandoffEjjj
    .type _ZN2hw16DebugPortHandoffEjjj, @function
_ZN2hw16DebugPortHandoffEjjj:
    pushq %rbx
    pushq %rax
    movl %edi, %ecx      /* command */
    movl %esi, %eax      /* value */
    movl %edx, %ebx      /* length */
    movl %ecx, %edx      /* EDX = command, DX = port */
    outl %eax, %dx
    popq %rax
    popq %rbx
    ret
    .size _ZN2hw16DebugPortHandoffEjjj, .-_ZN2hw16DebugPortHandoffEjjj

    .section .note.GNU-stack,"",@progbits
