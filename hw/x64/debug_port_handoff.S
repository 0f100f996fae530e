/* extern "C" void DebugPortHandoff(uint32_t command, uint32_t value, uint32_t length)
 * EDX = command (DX is the port), EAX = value (the data written), EBX =
 * length, one 32-bit OUT. The breakpoint on the port traps after the OUT,
 * and the debugger takes these three registers as the hand-off. EAX and EBX
 * are restored afterwards (RBX is callee-saved); RCX and RDX are scratch.
 * System V calling convention: EDI = command, ESI = value, EDX = length. */
    .text
    .globl DebugPortHandoff
    .type DebugPortHandoff, @function
DebugPortHandoff:
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
    .size DebugPortHandoff, .-DebugPortHandoff

    .section .note.GNU-stack,"",@progbits
