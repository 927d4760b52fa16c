"""An SMTP server on 127.0.0.1 that announces PIPELINING and CHUNKING (BDAT,
RFC 3030) and stores every accepted message as a file of its own in DIR/new
(written, then renamed).

    python3 smtpsink.py DIR [--no-chunking]    prints its port, then serves

With --no-chunking it announces PIPELINING only and knows no BDAT.

Replies go out in command order, whatever the client sent ahead. It stops
when its standard input closes. For benchmarks only: it accepts anyone.
"""

import asyncio
import os
import sys


def store(folder, counter, text):
    counter[0] += 1
    name = os.path.join(folder, "tmp", "m%d" % counter[0])
    with open(name, "wb") as f:
        f.write(b"".join(text))
    os.rename(name, os.path.join(folder, "new", "m%d" % counter[0]))


async def session(reader, writer, folder, counter, chunking):
    writer.write(b"220 sink.lab.test ESMTP\r\n")
    in_data = False
    text = []
    while True:
        line = await reader.readline()
        if not line:
            break
        if in_data:
            if line in (b".\r\n", b".\n"):
                in_data = False
                store(folder, counter, text)
                text = []
                writer.write(b"250 2.0.0 queued\r\n")
            else:
                text.append(line[1:] if line.startswith(b"..") else line)
            continue
        verb = line[:4].upper()
        if verb == b"EHLO":
            writer.write(b"250-sink.lab.test\r\n250-PIPELINING\r\n" + (b"250-CHUNKING\r\n" if chunking else b"") +
                         b"250-8BITMIME\r\n250 SIZE 36700160\r\n")
        elif verb == b"BDAT" and chunking:
            words = line.split()
            try:
                size = int(words[1])
            except (IndexError, ValueError):
                writer.write(b"501 syntax\r\n")
                break  # the byte stream can no longer be followed
            # The chunk is read whatever the reply, so the next command is found.
            text.append(await reader.readexactly(size))
            if len(words) > 2 and words[2].upper() == b"LAST":
                store(folder, counter, text)
                text = []
                writer.write(b"250 2.0.0 queued\r\n")
            else:
                writer.write(b"250 2.0.0 chunk\r\n")
        elif verb == b"RSET":
            text = []
            writer.write(b"250 ok\r\n")
        elif verb in (b"HELO", b"MAIL", b"RCPT", b"NOOP"):
            writer.write(b"250 ok\r\n")
        elif verb == b"DATA":
            in_data = True
            writer.write(b"354 end with .\r\n")
        elif verb == b"QUIT":
            writer.write(b"221 bye\r\n")
            break
        else:
            writer.write(b"500 what\r\n")
        # Replies to commands sent ahead go out together.
        if not reader._buffer:  # noqa: SLF001 - the stream's own buffer
            await writer.drain()
    try:
        await writer.drain()
        writer.close()
    except (ConnectionError, OSError):
        pass


async def main():
    folder = sys.argv[1]
    chunking = "--no-chunking" not in sys.argv[2:]
    for sub in ("new", "tmp"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    counter = [0]
    server = await asyncio.start_server(lambda r, w: session(r, w, folder, counter, chunking), "127.0.0.1", 0,
                                        limit=1 << 20)
    print(server.sockets[0].getsockname()[1], flush=True)
    loop = asyncio.get_running_loop()
    stdin_closed = loop.create_future()

    def on_stdin():
        if not sys.stdin.buffer.read1(1024) and not stdin_closed.done():
            stdin_closed.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    await stdin_closed


asyncio.run(main())
