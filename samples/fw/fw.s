@ The QEMU sample's program, for the Cortex-M3 of qemu-system-arm -M lm3s6965evb (flash at 0,
@ SRAM at 0x20000000). It checks that the image it was booted from put every byte where the link
@ did, and says so through semihosting:
@   - .data's initial values, stored in flash after .rodata and copied to RAM at reset, must
@     equal the values written into the code below;
@   - the .rodata table, which fw.ld places across the 64 KiB boundary, must add up to its sum.
@ Success prints "fw: table sum and .data check out" and exits 0; a wrong table prints
@ "fw: table sum wrong" and exits 1, wrong .data "fw: .data wrong" and exits 2, a fault
@ "fw: fault" and exits 3. Exit is SYS_EXIT_EXTENDED, so QEMU exits with that status.
    .syntax unified
    .cpu cortex-m3
    .thumb

    .equ sys_write0, 0x04
    .equ sys_exit_extended, 0x20
    .equ application_exit, 0x20026

    .section .vectors, "a"
    .word _stack_top
    .word reset
    .word fault        @ NMI
    .word fault        @ HardFault, where every other fault ends while they are disabled

    .text
    .global reset
    .thumb_func
reset:
    ldr r0, =_sidata
    ldr r1, =_sdata
    ldr r2, =_edata
copy:
    cmp r1, r2
    bhs copied
    ldr r3, [r0], #4
    str r3, [r1], #4
    b copy
copied:
    ldr r0, =table
    ldr r1, =table_end
    movs r2, #0
sum:
    cmp r0, r1
    bhs summed
    ldr r3, [r0], #4
    add r2, r2, r3
    b sum
summed:
    ldr r3, =0x9E3779B1
    cmp r2, r3
    bne bad_table
    @ The expected values come from literal pools in .text, not from .data's own flash copy.
    ldr r0, =state
    ldr r1, [r0]
    ldr r2, =0x600DF00D
    cmp r1, r2
    bne bad_data
    ldr r1, [r0, #4]
    ldr r2, =0x0BADCAFE
    cmp r1, r2
    bne bad_data
    ldr r1, =ok
    movs r4, #0
    b report
bad_table:
    ldr r1, =table_wrong
    movs r4, #1
    b report
bad_data:
    ldr r1, =data_wrong
    movs r4, #2
    b report
    .thumb_func
fault:
    ldr r1, =faulted
    movs r4, #3
@ Prints the string at r1, then exits with status r4; the exit call's parameter block
@ (reason, status) goes on the stack.
report:
    movs r0, #sys_write0
    bkpt 0xab
    ldr r0, =application_exit
    push {r0, r4}
    mov r1, sp
    movs r0, #sys_exit_extended
    bkpt 0xab
    b .
    .pool

    .section .rodata
    .balign 4
table:
    @ Sixteen words whose sum modulo 2^32 is 0x9E3779B1.
    .word 0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210
    .word 0x0F1E2D3C, 0x4B5A6978, 0x8796A5B4, 0xC3D2E1F0
    .word 0x13579BDF, 0x2468ACE0, 0xDEADBEEF, 0xCAFEBABE
    .word 0x00000001, 0x80000000, 0x55AA55AA, 0x413E4344
table_end:
ok:
    .asciz "fw: table sum and .data check out\n"
table_wrong:
    .asciz "fw: table sum wrong\n"
data_wrong:
    .asciz "fw: .data wrong\n"
faulted:
    .asciz "fw: fault\n"

    .data
state:
    .word 0x600DF00D, 0x0BADCAFE
