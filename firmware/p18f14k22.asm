; The bootloader for the PIC18F14K22.
        list    p=18f14k22
        include <p18f14k22.inc>
; Settings from the PIC18(L)F1XK22 data sheet (DS41365); brown-out at 3.0 V, the
; highest level offered, above the supply a 20 MHz HS crystal needs.
        config  FOSC = HS, PLLEN = OFF, PCLKEN = ON, FCMEN = OFF, IESO = OFF
        config  PWRTEN = ON, BOREN = SBORDIS, BORV = 30, WDTEN = OFF
        config  MCLRE = ON, STVREN = ON, LVP = OFF, XINST = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRTB = OFF, WRTC = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTRB = OFF
; RB5 (RX) is AN11, analog after reset: ANSELH resets to 0x0F (DS41365, ANSELH
; register in the I/O Ports section); RB7 (TX) has no analog function.
#define ANALOG_REG      ANSELH
#define ANALOG_MASK     b'00001000'
        include "bootloader.inc"
