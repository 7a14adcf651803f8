@ irq.s: interrupt entry; returns to the interrupted code.
        .text
        .global irq_handler
irq_handler:
        subs    pc, lr, #4
