/* The whole layout of the x64 and x86 images, for GNU ld. Its default
   script places some sixty sections, and the header space it reserves for
   them (SIZEOF_HEADERS) takes two file blocks; three sections take one.
   - .text: the code with the read-only data, which alone would cost a block.
   - .idata: the imports, writable, since the oldest 32-bit loaders bind them
     in place.
   - .reloc: the relocations, without which Windows will not move the image.
   - .data: only if some writable data ever appears; empty, it is dropped.
   Anything else fails the link (--orphan-handling=error). */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    *(.rdata)
    *(SORT(.rdata$*))
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data)
    *(SORT(.data$*))
    *(.bss)
    *(COMMON)
  }
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The end of the list of DLLs. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    . = ALIGN(8);
    KEEP (SORT(*)(.idata$4))
    KEEP (SORT(*)(.idata$5))
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /* Linker directives, and what link-time optimisation and the assembler
     leave for the linker alone. */
  /DISCARD/ :
  {
    *(.drectve)
    *(.gnu.lto_*)
    *(.note.GNU-stack)
  }
}
