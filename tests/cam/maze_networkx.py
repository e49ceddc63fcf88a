#!/usr/bin/python3
"""Judges mazes with networkx. argv[1] holds one maze after another, each
"nx ny" on a line of its own and then nx * ny cell bytes (row by row, 1
open). The rooms (both coordinates even) with the open walls between them
must form one tree over every room. Writes to argv[2], per maze, one line
per fault and then "rooms N"."""
import sys

import networkx as nx_


def judge(nx, ny, cells):
    cell = lambda x, y: cells[y * nx + x]
    g = nx_.Graph()
    faults = []
    rooms = [(x, y) for y in range(0, ny - 1, 2) for x in range(0, nx - 1, 2)]
    g.add_nodes_from(rooms)
    for x, y in rooms:
        if cell(x, y) != 1:
            faults.append("room %d,%d not visited" % (x, y))
    opened = 0
    for y in range(ny):
        for x in range(nx):
            if cell(x, y) != 1 or (x % 2 == 0 and y % 2 == 0):
                continue
            if x % 2 and y % 2:
                faults.append("pillar %d,%d open" % (x, y))
                continue
            a, b = ((x - 1, y), (x + 1, y)) if x % 2 else ((x, y - 1), (x, y + 1))
            if a not in g or b not in g:
                faults.append("wall %d,%d open to no room" % (x, y))
                continue
            g.add_edge(a, b)
            opened += 1
    if opened != len(rooms) - 1:
        faults.append("%d walls open for %d rooms" % (opened, len(rooms)))
    if not nx_.is_tree(g):
        faults.append("the open walls make no tree of the rooms")
    return faults + ["rooms %d" % len(rooms)]


def main():
    data = open(sys.argv[1], "rb").read()
    with open(sys.argv[2], "w") as out:
        while data:
            head, data = data.split(b"\n", 1)
            nx, ny = map(int, head.split())
            cells, data = data[: nx * ny], data[nx * ny :]
            for line in judge(nx, ny, cells):
                out.write(line + "\n")


main()
