#!/usr/bin/env python3
"""Writes a umockdev description of an STM32-like DFU device (0483:df11 on bus 1, address 4)
and a usbmon capture (pcap, LINKTYPE_USB_LINUX_MMAPPED) scripting its side of one exchange:
the configuration descriptor, the layout strings, the configuration again, a status request, a
set-address command and one 16-byte data block, each command followed by a busy and an idle
status. Usage: make_dfu_umockdev.py OUTDIR
With --trace TRACE PCAP DESCRIPTION it writes instead the capture of a recorded exchange
(dfu_flash_trace: one control transfer a line, "requestType request value index length result
reply-hex") and a description of the device that answered it: its configuration is the one the
recording read, so that the interfaces libusb lists are those the exchange talks to."""
import os
import struct
import sys

SYSFS = "/devices/pci0000:00/0000:00:14.0/usb1/1-1"
LAYOUT = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"
OPTIONS = "@Option Bytes  /0x1FFFF800/01*016 e"


DEVICE = bytes([18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x83, 0x04, 0x11, 0xDF, 0x00, 0x22, 1, 2, 3, 1])


def config_descriptor():
    """Interface 0 is a vendor interface whose endpoint descriptor is 9 bytes long (with
    bRefresh and bSynchAddress, as audio endpoints have), followed by a class-specific
    descriptor; the DFU interface (1) comes after it, so it is found only when every descriptor
    is taken at its own length."""
    body = bytes([9, 4, 0, 0, 1, 0xFF, 0x00, 0x00, 0])
    body += bytes([9, 5, 0x81, 0x01, 0x40, 0x00, 0x01, 0x00, 0x00])
    body += bytes([5, 0x25, 0x01, 0x00, 0x00])
    for alt in (0, 1):
        body += bytes([9, 4, 1, alt, 0, 0xFE, 0x01, 0x02, 4 + alt])
    body += bytes([9, 0x21, 0x0B, 0xFF, 0x00, 0x00, 0x08, 0x1A, 0x01])  # 2048-byte transfers
    total = 9 + len(body)
    return bytes([9, 2, total & 0xFF, total >> 8, 2, 1, 0, 0x80, 50]) + body


def descriptors(config):
    return DEVICE + config


def umockdev_text(config):
    lines = [
        "P: " + SYSFS,
        "N: bus/usb/001/004",
        "E: DEVNAME=/dev/bus/usb/001/004",
        "E: DEVTYPE=usb_device",
        "E: DRIVER=usb",
        "E: PRODUCT=483/df11/2200",
        "E: TYPE=0/0/0",
        "E: BUSNUM=001",
        "E: DEVNUM=004",
        "E: MAJOR=189",
        "E: MINOR=3",
        "E: SUBSYSTEM=usb",
        "A: busnum=1",
        "A: devnum=4",
        "A: idVendor=0483",
        "A: idProduct=df11",
        "A: bcdDevice=2200",
        "A: manufacturer=STMicroelectronics",
        "A: product=STM32  BOOTLOADER",
        "A: speed=12",
        "A: bConfigurationValue=1",
        "A: bNumConfigurations=1",
        "A: bNumInterfaces=%2d" % config[4],
        "A: bDeviceClass=00",
        "A: bMaxPacketSize0=64",
        "H: descriptors=" + descriptors(config).hex().upper(),
        "",
    ]
    return "\n".join(lines) + "\n"


class Capture:
    def __init__(self):
        self.records = []
        self.next_id = 0x1000
        self.t = 0

    def _packet(self, urb_id, event, setup, status, urb_len, data):
        self.t += 1000
        sec, usec = divmod(self.t, 1000000)
        head = struct.pack("<QcBBBHccqiiII8siiII", urb_id, event, 2, 0x00, 4, 1,
                           b"\0" if event == b"S" else b"-", b"<" if not data else b"\0",
                           sec, usec, status, urb_len, len(data), setup, 0, 0, 0, 0)
        assert len(head) == 64
        self.records.append((sec, usec, head + data))

    def control(self, request_type, request, value, index, length, reply=b"", status=0):
        """One control transfer as usbmon shows it: the submit with the setup packet and
        wLength, the completion with the bytes the device answered (IN) or took (OUT)."""
        setup = struct.pack("<BBHHH", request_type, request, value, index, length)
        urb_id = self.next_id
        self.next_id += 0x40
        self._packet(urb_id, b"S", setup, -115, length, b"")
        if request_type & 0x80:
            self._packet(urb_id, b"C", setup, status, len(reply), reply)
        else:
            self._packet(urb_id, b"C", setup, status, length if status == 0 else 0, b"")

    def write(self, path):
        with open(path, "wb") as f:
            f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 220))
            for sec, usec, data in self.records:
                f.write(struct.pack("<IIII", sec, usec, len(data), len(data)))
                f.write(data)


def status(state, poll_ms=0, code=0):
    return bytes([code, poll_ms & 0xFF, (poll_ms >> 8) & 0xFF, poll_ms >> 16, state, 0])


def string_descriptor(text):
    raw = text.encode("utf-16-le")
    return bytes([2 + len(raw), 3]) + raw


def read_config(c):
    """GET_DESCRIPTOR of the configuration: its head for wTotalLength, then the whole set."""
    config = config_descriptor()
    c.control(0x80, 6, 0x0200, 0, 9, config[:9])
    c.control(0x80, 6, 0x0200, 0, len(config), config)


def exchange():
    c = Capture()
    read_config(c)                                                # the mapping's open
    c.control(0x80, 6, 0x0304, 0x0409, 255, string_descriptor(LAYOUT))
    c.control(0x80, 6, 0x0305, 0x0409, 255, string_descriptor(OPTIONS))
    read_config(c)                                                # the exchange's open
    c.control(0xA1, 3, 0, 1, 6, status(2))                        # GETSTATUS: idle
    c.control(0x21, 1, 0, 1, 5)                                   # DNLOAD 21 00 00 00 08
    c.control(0xA1, 3, 0, 1, 6, status(4, poll_ms=5))             # busy, 5 ms
    c.control(0xA1, 3, 0, 1, 6, status(5))                        # download-idle
    c.control(0x21, 1, 2, 1, 16)                                  # DNLOAD block 2, 16 bytes
    c.control(0xA1, 3, 0, 1, 6, status(4, poll_ms=5))
    c.control(0xA1, 3, 0, 1, 6, status(5))
    c.control(0xA1, 3, 0, 1, 6, b"", status=-32)                  # then the device stalls
    return c


# Our USB results (platform/usb.h) as the kernel's URB status: stall, no device, time-out, i/o.
URB_STATUS = {-2: -32, -3: -19, -1: -110}


def from_trace(trace_path, pcap_path, description_path):
    c = Capture()
    config = None
    with open(trace_path) as f:
        for line in f:
            fields = line.split()
            if len(fields) != 7:
                continue
            rt, req, value, index, length, result = (int(x) for x in fields[:6])
            reply = b"" if fields[6] == "-" else bytes.fromhex(fields[6])
            status = 0 if result >= 0 else URB_STATUS.get(result, -71)
            c.control(rt, req, value, index, length, reply, status)
            if rt == 0x80 and req == 6 and value == 0x0200 and len(reply) > 9:
                config = reply
    if config is None:
        sys.exit("make_dfu_umockdev.py: the trace never read the configuration")
    c.write(pcap_path)
    with open(description_path, "w") as f:
        f.write(umockdev_text(config))


def main():
    if sys.argv[1:2] == ["--trace"]:
        from_trace(sys.argv[2], sys.argv[3], sys.argv[4])
        return
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "dfu-device.umockdev"), "w") as f:
        f.write(umockdev_text(config_descriptor()))
    exchange().write(os.path.join(out, "dfu-exchange.pcap"))


if __name__ == "__main__":
    main()
