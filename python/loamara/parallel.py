"""Evaluate a ufunc over large arrays in chunks on a pool of threads.

NumPy releases the interpreter lock inside the inner loops of the loamara
ufuncs, so several threads can evaluate disjoint chunks of the same call at
once.  Each chunk is one ordinary ufunc call on views of the operands that
writes straight into (views of) the preallocated outputs, so the results are
bit for bit those of one plain call.

Whether to split, and into chunks of what size, follows from the cost per
element of the call itself: the first chunk (``PROBE_ELEMENTS``) is
evaluated and timed on the calling thread, and the rest is split only if it
would take at least ``SPLIT_SECONDS`` on one core, in chunks of about
``CHUNK_SECONDS`` of work (at least ``MIN_CHUNK`` elements).  An expensive
ufunc (one that calls exp, log or pow per element, 10-60 ns) therefore uses
every core from about 10**5 elements; a cheap, memory-bound one (about 1 ns
per element) only from about 10**6, where two cores still gain from the
memory bandwidth they share.  Each task costs some microseconds of Python,
which is why chunks are not made smaller.  ``chunk_size`` fixes the chunk
instead (then calls under two chunks are made directly), and ``threads``
the number of threads (default: the cores available to the process).
``python bench/bench.py --chunk-sweep`` measures the speed-ups.

Whatever the size, a call gives the outcome of the plain call
``ufunc(*args, out=out, where=where)``: the same values, the same type of
result (operands that are not NumPy arrays or numbers, such as pandas Series,
are left to that plain call) and the same exceptions.  When a chunk fails,
no other chunk is started, and the exception is raised only once every chunk
already running has finished, so nothing writes into the outputs after the
call has returned or raised.
"""
from __future__ import annotations

import contextvars
import math
import os
import threading
import time
from collections.abc import Callable, Iterator
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Any

import numpy as np

__all__ = ["parallel_apply", "default_threads", "run_chunked",
           "map_chunks", "map_threads"]

PROBE_ELEMENTS = 1 << 12
MIN_CHUNK = 1 << 13
SPLIT_SECONDS = 1.0e-3
CHUNK_SECONDS = 0.5e-3

# One pool for the whole process, as large as the largest number of threads
# asked for so far; a larger request replaces it (the old pool's threads end
# once their current work is done).
_pool: ThreadPoolExecutor | None = None
_pool_size = 0
_pool_lock = threading.Lock()


def default_threads() -> int:
    """Number of cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):  # pragma: no cover - not Linux
        return max(1, os.cpu_count() or 1)


def _start_workers(count: int, work: Callable[[], None]) -> list[Future[None]]:
    """Submits ``count`` copies of ``work`` to the shared pool.  Submitting
    under the lock means a pool is never shut down between being picked and
    being given work."""
    global _pool, _pool_size
    if count <= 0:
        return []
    with _pool_lock:
        if _pool is None or _pool_size < count:
            old = _pool
            _pool = ThreadPoolExecutor(max_workers=count,
                                       thread_name_prefix="loamara")
            _pool_size = count
            if old is not None:
                old.shutdown(wait=False)
        return [_pool.submit(work) for _ in range(count)]


def _same_view(a: np.ndarray, b: np.ndarray) -> bool:
    return (a.__array_interface__["data"][0] == b.__array_interface__["data"][0]
            and a.strides == b.strides and a.shape == b.shape)


def _plain_operand(a: Any) -> bool:
    """True for operands that a ufunc call treats as plain NumPy data:
    exact ndarrays, NumPy scalars, Python numbers and sequences, not pandas,
    xarray or dask objects or ndarray subclasses (masked arrays), which a
    ufunc call returns as their own types."""
    return type(a) is np.ndarray or isinstance(
        a, (np.generic, int, float, complex, list, tuple))


def _run_blocks(run: Callable[[tuple[int, int]], None],
                blocks: list[tuple[int, int]], nthreads: int) -> None:
    """Runs every block on ``nthreads`` threads, the caller's among them.
    On the first exception no further block is started; the exception is
    raised once every block already started has finished."""
    it: Iterator[tuple[int, int]] = iter(blocks)
    lock = threading.Lock()
    failed: list[BaseException] = []

    def work() -> None:
        while True:
            with lock:
                if failed:
                    return
                block = next(it, None)
            if block is None:
                return
            try:
                run(block)
            except BaseException as exc:  # noqa: BLE001 - re-raised below
                with lock:
                    failed.append(exc)
                return

    # Each task runs in a copy of the caller's context, so that the caller's
    # np.errstate settings apply to the chunks too.
    context = contextvars.copy_context()
    helpers = _start_workers(
        min(nthreads, len(blocks)) - 1, lambda: context.copy().run(work))
    try:
        work()
    finally:
        for task in helpers:
            # A helper that never started has nothing to do any more; one
            # that started is waited for.
            if not task.cancel():
                task.exception()
    if failed:
        raise failed[0]


def map_threads(fn: Callable[[Any], Any], items: list[Any],
                threads: int | None = None) -> list[Any]:
    """``[fn(x) for x in items]``, the items on the package's threads (for
    work that releases the interpreter lock, such as pyarrow's kernels);
    a failure stops the rest and is raised once the running ones end."""
    results: list[Any] = [None] * len(items)

    def one(block: tuple[int, int]) -> None:
        results[block[0]] = fn(items[block[0]])

    nthreads = default_threads() if threads is None else int(threads)
    _run_blocks(one, [(i, i + 1) for i in range(len(items))],
                max(1, min(nthreads, len(items))))
    return results


def parallel_apply(ufunc: np.ufunc, *args: Any, out: Any = None,
                   where: Any = True, chunk_size: int | None = None,
                   threads: int | None = None) -> Any:
    """Call ``ufunc(*args, out=out, where=where)`` in chunks on threads.

    Inputs broadcast against each other and against ``out`` exactly as in
    the ufunc call; ``out`` is one array (for a one-output ufunc) or a tuple
    with one array (or None) per output, as for the ufunc.  Returns what the
    ufunc returns: one array or a tuple of arrays (NumPy scalars for 0-d
    operands), and raises what it raises.
    """
    nout = ufunc.nout
    plain: dict[str, Any] = {"where": where}
    if out is not None:
        plain["out"] = out

    def one_call() -> Any:
        return ufunc(*args, **plain)

    if isinstance(out, tuple):
        outs = list(out)
    elif out is None:
        outs = [None] * nout
    elif nout == 1:
        outs = [out]
    else:
        return one_call()  # the ufunc's own TypeError
    nthreads = default_threads() if threads is None else int(threads)
    if (chunk_size is not None and int(chunk_size) < 1) or nthreads < 1:
        raise ValueError("chunk_size and threads must be positive")
    if (len(outs) != nout or len(args) != ufunc.nin or nthreads == 1
            or not all(_plain_operand(a) for a in args)
            or not all(o is None or type(o) is np.ndarray for o in outs)
            or not (where is True or _plain_operand(where))):
        return one_call()

    ins = [np.asarray(a) for a in args]
    try:
        shape = np.broadcast_shapes(
            *(a.shape for a in ins),
            *(np.shape(o) for o in outs if o is not None),
            np.shape(where))
        dtypes = ufunc.resolve_dtypes(
            tuple(a.dtype for a in ins) + (None,) * nout)
    except (ValueError, TypeError):
        return one_call()
    size = int(np.prod(shape, dtype=np.int64))
    if size < (2 * int(chunk_size) if chunk_size is not None
               else PROBE_ELEMENTS + MIN_CHUNK):
        return one_call()

    result = []
    for o, dt in zip(outs, dtypes[ufunc.nin:]):
        if o is None:
            o = np.empty(shape, dtype=dt)
        elif o.shape != shape or not o.flags.writeable:
            return one_call()
        result.append(o)
    # Outputs that overlap an input other than element for element (which
    # NumPy resolves with a temporary copy), or overlap each other, are left
    # to one plain call: chunks would race at their borders.
    views = [np.broadcast_to(a, shape) for a in ins]
    for j, o in enumerate(result):
        for v in views:
            if np.may_share_memory(o, v) and not _same_view(o, v):
                return one_call()
        for other in result[:j]:
            if np.may_share_memory(o, other):
                return one_call()
    mask = None if where is True else np.broadcast_to(np.asarray(where), shape)

    def run(idx: tuple[slice, ...]) -> None:
        ufunc(*(v[idx] for v in views), out=tuple(o[idx] for o in result),
              where=True if mask is None else mask[idx])

    run_chunked(shape, run, nthreads, chunk_size)
    return tuple(result) if nout > 1 else result[0]


def run_chunked(shape: tuple[int, ...],
                run: Callable[[tuple[slice, ...]], None], nthreads: int,
                chunk_size: int | None = None) -> None:
    """Calls ``run(index)`` on blocks that together cover an array of
    ``shape`` once, along its longest axis, on ``nthreads`` threads.  With
    ``chunk_size`` None the first block is timed on the calling thread and
    the rest split by that cost (see the module's notes)."""
    size = int(np.prod(shape, dtype=np.int64))
    if size == 0 or len(shape) == 0:
        run(())
        return
    axis = int(np.argmax(shape))
    length = shape[axis]
    per_row = max(1, size // length)

    def at(block: tuple[int, int]) -> None:
        run((slice(None),) * axis + (slice(block[0], block[1]),))

    def blocks(start: int, chunk: int) -> list[tuple[int, int]]:
        step = max(1, chunk // per_row)
        return [(i, min(i + step, length)) for i in range(start, length, step)]

    if chunk_size is not None:
        _run_blocks(at, blocks(0, int(chunk_size)), nthreads)
        return
    # Time a first chunk of the call itself, then split the rest by its
    # cost per element.
    first = min(length, max(1, -(-PROBE_ELEMENTS // per_row)))
    t0 = time.perf_counter()
    at((0, first))
    cost = (time.perf_counter() - t0) / (first * per_row)
    rest = (length - first) * per_row
    if rest and nthreads > 1 and cost * rest >= SPLIT_SECONDS:
        chunk = max(MIN_CHUNK, int(CHUNK_SECONDS / max(cost, 1e-12)),
                    math.ceil(rest / (64 * nthreads)))
        _run_blocks(at, blocks(first, min(chunk, -(-rest // nthreads))),
                    nthreads)
    elif rest:
        at((first, length))



def map_chunks(fn: Callable[[Any], list[Any]], chunks: list[Any],
               threads: int | None = None,
               done: Callable[[int], None] | None = None) -> list[Any]:
    """``fn(chunk)`` for every chunk, each returning a list, on the
    module's threads (the caller's among them); the lists joined in the
    order of the chunks.  ``done(i)`` is called, under a lock, as chunk
    ``i`` completes.  On the first exception no further chunk is started;
    it is raised once the chunks already running have finished.

    Measured for SciPy least-squares fits of 10 points (the time in
    Python, NumPy and the curve ufuncs, which release the interpreter lock
    in their loops): 1.6 times one thread's rate on two cores, where a
    pool of processes (forkserver, each importing SciPy) was slower than
    one thread at 2000 fits."""
    nthreads = default_threads() if threads is None else int(threads)
    if nthreads < 1:
        raise ValueError("threads must be positive")
    results: list[list[Any]] = [[] for _ in chunks]
    lock = threading.Lock()

    def run(block: tuple[int, int]) -> None:
        part = fn(chunks[block[0]])
        with lock:
            results[block[0]] = part
            if done is not None:
                done(block[0])

    _run_blocks(run, [(i, i + 1) for i in range(len(chunks))], nthreads)
    return [x for part in results for x in part]
