@ kernel.s: kernel entry after reset; starts the scheduler and never returns.
        .text
        .global kernel_main
kernel_main:
        bl      heap_init
        bl      timer_init
        b       sched_start
