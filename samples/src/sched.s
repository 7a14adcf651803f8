@ sched.s: round-robin scheduler start.
        .text
        .global sched_start
sched_start:
        mrs     r0, cpsr
        bic     r0, r0, #0x80           @ interrupts on
        msr     cpsr_c, r0
1:      b       1b
