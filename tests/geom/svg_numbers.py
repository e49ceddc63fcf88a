#!/usr/bin/python3
# Reads an SVG file with xml.etree, checks that it is in the SVG namespace,
# and prints the numbers of each path element's d attribute on one line,
# with "Z" where the path closes.
import re
import sys
import xml.etree.ElementTree as ET

ns = "{http://www.w3.org/2000/svg}"
root = ET.parse(sys.argv[1]).getroot()
if root.tag != ns + "svg":
    sys.exit("root element is not svg:svg: " + root.tag)
print("size", root.get("width"), root.get("height"))
for p in root.iter(ns + "path"):
    d = p.get("d")
    nums = re.findall(r"-?\d+\.\d+|Z", d)
    print(" ".join(nums))
