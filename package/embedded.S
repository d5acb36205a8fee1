/* The firmware package record, taken byte for byte from the file the build produced, placed in
   the writable initialised data of the program. 32-bit Windows prefixes C symbols with "_". */
#if defined(_WIN32) && !defined(_WIN64)
#define SYM(name) _##name
#else
#define SYM(name) name
#endif

    .data
    .balign 16
    .globl SYM(zorven_package_record)
SYM(zorven_package_record):
    .incbin ZORVEN_PACKAGE_FILE
#if !defined(_WIN32)
    .size SYM(zorven_package_record), . - SYM(zorven_package_record)
    .type SYM(zorven_package_record), @object
    .section .note.GNU-stack,"",@progbits
#endif
