; The bootloader for the PIC18F452 (and PIC18F252).
        list    p=18f452
        include <p18f452.inc>
        config  OSC = HS, PWRT = ON, BOR = OFF, WDT = OFF, LVP = OFF
        include "bootloader.inc"
