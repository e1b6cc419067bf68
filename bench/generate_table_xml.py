#!/usr/bin/env python3
"""Writes an XML table document for the XML-load benchmark.

Root "Data" holds "CustomerList" containers of Customer rows (ID, NAME, ACTIVE, RATE, SINCE, STAMP,
NOTE), each with four Orders rows (ID, QTY, AMOUNT, LABEL, STATUS) whose CUSTOMER_ID the loader takes from the
enclosing Customer. Indented with two spaces, as documents from the server are. The default size
(about 10 MB) holds 20,000 customers and 80,000 orders: 100,000 row elements.

With --references every identifier is written as a reference instead (Customer ID="Customer:ID:7",
Orders ID="Orders:ID:12" and CUSTOMER_ID="Customer:ID:7"), which the loader resolves through the
load's map of references: the same rows, each element referencing.

With --nested N the document is instead N chains of self-referencing Node rows (a table
Node(ID, PARENT_ID -> Node.ID)), each Node element nested in the one before it, --depth deep (255 by
default: with the root, libxml2's default depth limit of 256), one per line without indentation,
none with an ID attribute (only a NAME): every
element's PARENT_ID is looked for through all its ancestors and below it.

Deterministic: the same seed and count give the same bytes.

Usage: generate_table_xml.py OUTPUT [--customers N] [--seed S] [--references]
       generate_table_xml.py OUTPUT --nested N [--depth D]
"""

import argparse
import random

FIRST = ("Ada", "Bruno", "Chiara", "Dmitri", "Elif", "Farid", "Greta", "Hiro", "Ines", "Jonas", "Kemal", "Lena")
LAST = ("Albers", "Brandt", "Costa", "Duval", "Eriksen", "Fischer", "Garcia", "Haas", "Ivanova", "Jansen")
NOTES = ("key account", "pays late", "prefers e-mail", "call before delivery", "new in 2021", "reseller")
LABELS = ("hardware", "licences", "support", "training", "consulting", "spare parts", "shipping")
STATUSES = ("open", "shipped", "invoiced", "paid", "cancelled")
ORDERS_PER_CUSTOMER = 4
CUSTOMERS_PER_LIST = 1000


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("output")
    parser.add_argument("--customers", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--references", action="store_true")
    parser.add_argument("--nested", type=int, default=0)
    parser.add_argument("--depth", type=int, default=255)
    args = parser.parse_args()
    if args.nested > 0:
        write_nested(args.output, args.nested, args.depth)
        return

    def identifier(table: str, value: int) -> str:
        return f"{table}:ID:{value}" if args.references else str(value)

    rng = random.Random(args.seed)
    order_id = 0
    with open(args.output, "w", encoding="utf-8", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<Data>\n')
        for customer_id in range(1, args.customers + 1):
            if customer_id % CUSTOMERS_PER_LIST == 1:
                out.write("  <CustomerList>\n")
            out.write(
                f'    <Customer ID="{identifier("Customer", customer_id)}" NAME="{rng.choice(FIRST)} {rng.choice(LAST)}"'
                f' ACTIVE="{rng.choice(("TRUE", "FALSE"))}" RATE="{rng.randint(0, 999) / 100}"'
                f' SINCE="20{rng.randint(10, 23)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"'
                f' STAMP="2023-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d} {rng.randint(0, 23):02d}:'
                f'{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d}" NOTE="{rng.choice(NOTES)}">\n')
            for _ in range(ORDERS_PER_CUSTOMER):
                order_id += 1
                customer = f' CUSTOMER_ID="{identifier("Customer", customer_id)}"' if args.references else ""
                out.write(f'      <Orders ID="{identifier("Orders", order_id)}"{customer} QTY="{rng.randint(1, 50)}"'
                          f' AMOUNT="{rng.randint(100, 999999) / 100}" LABEL="{rng.choice(LABELS)}"'
                          f' STATUS="{rng.choice(STATUSES)}"/>\n')
            out.write("    </Customer>\n")
            if customer_id % CUSTOMERS_PER_LIST == 0 or customer_id == args.customers:
                out.write("  </CustomerList>\n")
        out.write("</Data>\n")


def write_nested(output: str, chains: int, depth: int) -> None:
    with open(output, "w", encoding="utf-8", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<Data>\n')
        for chain in range(chains):
            for level in range(depth):
                out.write(f'<Node NAME="{level}">\n')
            out.write("</Node>\n" * depth)
        out.write("</Data>\n")


if __name__ == "__main__":
    main()
