@ boot.s: reset entry; sets up the supervisor stack and enters the kernel.
        .text
        .global reset
reset:  ldr     sp, =svc_stack_top
        bl      kernel_main
1:      b       1b
