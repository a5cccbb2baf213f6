// The font image in Kwepsys.dll's read-only data, taken whole from the file make_font_image.py wrote
// (found through the assembler's include path). The build stops if the file has another size.
    .section .rdata, "dr"
    .balign 16
    .globl kwep_font_image
kwep_font_image:
    .incbin "font_image.bin"
kwep_font_image_end:
    .if kwep_font_image_end - kwep_font_image - 2093088
    .error "font_image.bin is not 2093088 bytes"
    .endif
