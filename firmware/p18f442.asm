; The bootloader for the PIC18F442 (and PIC18F242).
        list    p=18f442
        include <p18f442.inc>
        config  OSC = HS, PWRT = ON, BOR = OFF, WDT = OFF, LVP = OFF
        include "bootloader.inc"
