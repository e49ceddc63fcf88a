// Internal to the SVG reader: the shapes of a prepared document. SVG++
// traverses them as absolute cubic Beziers in each element's user space; the
// transforms of the element chain carry them into document space, and the
// paints, bounds and points are packed into one svg_image block.
#pragma once
#include "img/svgparse.h"

// Traverses the document svg_prepare accepted and packs its shapes, moved to
// start at (0, 0); null with the reason in why.
svg_image *svg_buildshapes(xmlDoc *xml, svg_doc &doc, std::string &why);
