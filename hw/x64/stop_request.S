/* extern "C" uint16_t SimulatorStopRequest(void)
 * CPUID with EAX = 0xBACCD00B, EBX = 2, SI = 0; returns SI. RFLAGS, RBX, RCX,
 * RDX and RSI are saved and restored. System V calling convention (called
 * from C++ inside the image). */
    .text
    .globl SimulatorStopRequest
    .type SimulatorStopRequest, @function
SimulatorStopRequest:
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
    .size SimulatorStopRequest, .-SimulatorStopRequest

    .section .note.GNU-stack,"",@progbits
