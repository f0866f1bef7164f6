# A pyserial application for the capture tests: it opens the port at
# 115200 7E1, waits for a line on stdin, changes the rate to 9600, writes,
# reads five bytes, switches to a custom rate and closes.
import sys

import serial

port = serial.Serial(sys.argv[1], 115200, bytesize=7, parity="E", stopbits=1, timeout=5)
print("opened", flush=True)
sys.stdin.readline()
port.baudrate = 9600
port.write(b"py-hello")
print("wrote", flush=True)
print("read:" + port.read(5).decode(), flush=True)
port.baudrate = 250000
port.close()
