/* EFI_STATUS EFIAPI EfiImageStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable)
 *
 * The PE entry point of every image (set with the linker's -e). The firmware
 * calls it with the UEFI convention: RCX = ImageHandle, RDX = SystemTable, and
 * it relies on RBX, RBP, RDI, RSI, R12-R15 and XMM6-XMM15 surviving the call
 * (an SMM core keeps its own pointers in them across a driver's entry).
 *
 * It applies the image's ELF relocations (gnu-efi's _relocate: the loader
 * fixes nothing, see the .reloc block below), then calls
 * efi_main(ImageHandle, SystemTable) with the System V convention, and returns
 * efi_main's status, or the relocation's error without calling it.
 *
 * All general-purpose callee-saved registers of the UEFI convention are saved
 * here; XMM6-XMM15 survive because the images are built without SSE (the
 * image check refuses any xmm/ymm use), so nothing in the image touches them.
 */
    .text
    .globl EfiImageStart
    .hidden EfiImageStart
    .type EfiImageStart, @function
EfiImageStart:
    pushq %rbp
    movq %rsp, %rbp
    pushq %rbx
    pushq %rdi
    pushq %rsi
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    /* Eight pushes after the return address: RSP is 16-byte aligned again,
     * as the System V calls below require. */
    movq %rcx, %r12             /* ImageHandle */
    movq %rdx, %r13             /* SystemTable */

    leaq ImageBase(%rip), %rdi
    leaq _DYNAMIC(%rip), %rsi
    movq %r12, %rdx
    movq %r13, %rcx
    call _relocate
    testq %rax, %rax
    jnz 1f

    movq %r12, %rdi
    movq %r13, %rsi
    call efi_main
1:
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rsi
    popq %rdi
    popq %rbx
    popq %rbp
    ret
    .size EfiImageStart, .-EfiImageStart

/* A base-relocation block with two padding entries: it makes the PE image
 * relocatable for the firmware's loader without asking it to fix anything;
 * the fixups are the ELF RELA entries that _relocate applies above. Nothing
 * refers to it, so it is marked retained ("R") for the link's --gc-sections. */
    .section .reloc, "aR"
    .4byte 0                    /* page RVA */
    .4byte 12                   /* block size: header and two entries */
    .2byte 0                    /* IMAGE_REL_BASED_ABSOLUTE (padding) */
    .2byte 0

    .section .note.GNU-stack,"",@progbits
