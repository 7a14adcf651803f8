@ vectors.s: the exception vector table at address 0.
        .section .vectors, "ax"
        b       reset
        b       undef_handler
        b       swi_handler
        b       pabort_handler
        b       dabort_handler
        nop
        b       irq_handler
        b       fiq_handler
