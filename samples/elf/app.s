@ The ELF sample's program: a Cortex-M vector table, start-up code that copies the initialised
@ data from flash to RAM, read-only data, initialised data, .bss, and a configuration block
@ that app.ld places in a second flash region.
    .syntax unified
    .cpu cortex-m3
    .thumb
    .section .vectors, "a"
    .word _stack_top
    .word reset + 1
    .word fault + 1
    .word fault + 1
    .text
    .thumb_func
    .global reset
reset:
    ldr r0, =_sidata
    ldr r1, =_sdata
    ldr r2, =_edata
copy:
    cmp r1, r2
    bhs done
    ldr r3, [r0], #4
    str r3, [r1], #4
    b copy
done:
    ldr r0, =table
    b done
    .thumb_func
fault:
    b fault
    .balign 4
    .section .rodata
table:
    .word 0x01020304, 0xA5A5A5A5
    .ascii "fwkit ELF sample"
    .data
counter:
    .word 0x11223344
    .byte 1, 2, 3, 4
    .bss
buffer:
    .space 256
    .section .config, "a"
    .word 0xCAFEF00D, 0x0000BEEF
