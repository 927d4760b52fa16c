"""A TCP relay on 127.0.0.1 that holds every chunk for a set time in each
direction, like a link with that much latency (order and bytes unchanged).

    python3 relay.py TARGET_PORT DELAY_MS     prints its own port, then serves

It stops when its standard input closes, so a test that starts it cannot
leave it behind.
"""

import asyncio
import sys


async def pump(reader, writer, delay):
    queue = asyncio.Queue()

    async def deliver():
        loop = asyncio.get_running_loop()
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        writer.close()

    task = asyncio.create_task(deliver())
    loop = asyncio.get_running_loop()
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data or None))
            if not data:
                break
    except (ConnectionError, OSError):
        queue.put_nowait((loop.time(), None))
    try:
        await task
    except (ConnectionError, OSError):
        pass


async def main():
    target_port, delay = int(sys.argv[1]), int(sys.argv[2]) / 1000.0

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    loop = asyncio.get_running_loop()
    stdin_closed = loop.create_future()

    def on_stdin():
        if not sys.stdin.buffer.read1(1024) and not stdin_closed.done():
            stdin_closed.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    await stdin_closed
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
