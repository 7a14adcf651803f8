@ A boot loader for the QEMU sample's board (qemu-system-arm -M lm3s6965evb): it starts at
@ reset from flash address 0 and hands over to the application linked at 0x10000, as the boot
@ loaders of UF2 and DFU boards hand over to the program they were given. The application's
@ vector table becomes the processor's (VTOR), its initial stack pointer the stack, and its
@ reset handler runs. Built with
@   arm-none-eabi-as -o boot.o boot.s && arm-none-eabi-ld -Ttext=0 -e reset -o boot.elf boot.o
@ A fault before the hand-over stops in a loop, which the test's time limit ends.
    .syntax unified
    .cpu cortex-m3
    .thumb

    .equ application, 0x10000
    .equ vtor, 0xE000ED08

    .text
    .word 0x20010000   @ the top of the board's 64 KiB of SRAM
    .word reset
    .word fault        @ NMI
    .word fault        @ HardFault

    .global reset
    .thumb_func
reset:
    ldr r0, =application
    ldr r1, =vtor
    str r0, [r1]
    ldr r1, [r0]       @ the application's initial stack pointer
    msr msp, r1
    ldr r1, [r0, #4]   @ and its reset handler, a Thumb address
    bx r1

    .thumb_func
fault:
    b fault
