@ heap.s: heap set-up.
        .text
        .global heap_init
heap_init:
        bx      lr
