; The bootloader for the PIC18F26K22.
        list    p=18f26k22
        include <p18f26k22.inc>
; Settings from the PIC18(L)F2X/4XK22 data sheet (DS41412); HSHP: a crystal above
; 16 MHz needs the high-power drive; brown-out at 2.85 V, the highest level offered.
        config  FOSC = HSHP, PLLCFG = OFF, PRICLKEN = ON, FCMEN = OFF, IESO = OFF
        config  PWRTEN = ON, BOREN = SBORDIS, BORV = 285, WDTEN = OFF, PBADEN = OFF
        config  MCLRE = EXTMCLR, STVREN = ON, LVP = OFF, XINST = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CP2 = OFF, CP3 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRT2 = OFF, WRT3 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTR2 = OFF, EBTR3 = OFF, EBTRB = OFF
; RC6 (TX) is AN18 and RC7 (RX) is AN19, analog after reset: ANSELC resets to 0xFC
; (DS41412, ANSELC register in the I/O Ports section); ANSELC is outside the access bank.
#define ANALOG_REG      ANSELC
#define ANALOG_MASK     b'11000000'
        include "bootloader.inc"
