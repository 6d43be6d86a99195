; The bootloader for the PIC18F4520 (and PIC18F2520).
        list    p=18f4520
        include <p18f4520.inc>
        config  OSC = HS, PWRT = ON, BOREN = OFF, WDT = OFF, LVP = OFF, PBADEN = OFF, XINST = OFF
        include "bootloader.inc"
