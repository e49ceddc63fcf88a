// The element names the operation editor shows for each operation type
// right after the type is chosen for operation 2 of the list (not the
// first, so rest-machining is offered where the type allows it): an inch
// project, no contour input, the stepover as a distance, switches off but
// for the type's own defaults (2.5D Offset Milling links cuts, Medial-Axis
// Carving sorts them), direction Conventional. The real run compares the
// names under the editor with these.
#pragma once
#include <set>
#include <string>
#include <vector>

// Shown for every type.
inline const std::vector<std::string> opeditor_commonnames = {
    "op_speed", "op_coolant",  "op_feed",       "op_dir",         "op_engage",
    "op_entry", "op_mindepth", "op_mindepth_reset", "op_rapidheight", "op_ignoretool",
};

// Everything else, by type 1..17.
inline const std::vector<std::string> opeditor_typenames[18] = {
    {},
    // 1 Parallel Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_stock",
     "op_stock_reset", "op_sort_enable", "op_rest_enable", "op_pad_enable", "op_cutangle", "op_cutangle_reset"},
    // 2 Chevron Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_stock",
     "op_stock_reset", "op_link_enable", "op_sort_enable", "op_rest_enable", "op_pad_enable", "op_chev_width",
     "op_chev_height", "op_cutangle", "op_cutangle_reset"},
    // 3 Spiral Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_stock",
     "op_stock_reset", "op_link_enable", "op_sort_enable", "op_rest_enable", "op_pad_enable", "op_spiral_x",
     "op_spiral_x_reset", "op_spiral_y", "op_spiral_y_reset", "op_spiral_radius", "op_spiral_reset"},
    // 4 Labyrinth Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_stock",
     "op_stock_reset", "op_link_enable", "op_sort_enable", "op_rest_enable", "op_pad_enable", "op_maze_variance",
     "op_maze_mirror_x", "op_maze_mirror_y", "op_maze_mirror_90", "op_maze_mirror_180"},
    // 5 Standard Stippling
    {"op_stepover", "op_stepover_percentage", "op_sort_enable", "op_stip1_advec", "op_stip1_advec_reset",
     "op_stip_mindia", "op_stip_maxdia"},
    // 6 Medial-Axis Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_offset", "op_offset_reset", "op_link_enable",
     "op_sort_disable", "op_rest_enable", "op_edges_enable", "op_contourinput", "op_invertcontour", "op_contour_z",
     "op_contour_z_reset", "op_depthoffset", "op_depthoffset_reset"},
    // 7 2.5D Offset Milling
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_zero", "op_stepover_percentage",
     "op_stock", "op_stock_reset", "op_link_disable", "op_sort_enable", "op_rest_enable", "op_pad_enable",
     "op_smoothing"},
    // 8 2D Profile Milling
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_offset",
     "op_offset_reset", "op_offset_toolrad", "op_link_enable", "op_sort_enable", "op_edges_enable", "op_contourinput",
     "op_invertcontour", "op_contour_z", "op_contour_z_reset", "op_outlinemode", "op_prof_width",
     "op_prof_width_reset", "op_prof_tabs_reset", "op_prof_tabs_spacing"},
    // 9 Conformal Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_stock",
     "op_stock_reset", "op_link_enable", "op_sort_enable", "op_rest_enable", "op_pad_enable", "op_cutangle",
     "op_cutangle_reset", "op_conf_perturb", "op_conf_smoothing"},
    // 10 2D Offset Milling
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_offset",
     "op_offset_reset", "op_link_enable", "op_sort_enable", "op_rest_enable", "op_pad_enable", "op_contourinput",
     "op_invertcontour", "op_contour_z", "op_contour_z_reset", "op_smoothing"},
    // 11 Dithered Stippling
    {"op_sort_enable", "op_stip2_thresh", "op_stip2_light", "op_stip2_dark", "op_stip_mindia", "op_stip_maxdia"},
    // 12 Paths Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stock", "op_stock_reset", "op_link_enable",
     "op_sort_enable", "op_pad_enable", "op_pathslayer", "op_pcut_followcanvas"},
    // 13 Tessellated Carving
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stock", "op_stock_reset", "op_link_enable",
     "op_sort_enable", "op_pad_enable", "op_tess_cols", "op_tess_rows", "op_tess_cuts", "op_tess_gap",
     "op_tess_shape", "op_tess_nopartials"},
    // 14 2.5D Trochoidal Milling
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_stock",
     "op_stock_reset", "op_link_enable", "op_sort_enable", "op_pad_enable"},
    // 15 2D Trochoidal Milling
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_offset",
     "op_offset_reset", "op_link_enable", "op_sort_enable", "op_pad_enable", "op_contourinput", "op_invertcontour",
     "op_contour_z", "op_contour_z_reset"},
    // 16 Hole Drilling
    {"op_cutdepth", "op_maxdepth", "op_maxdepth_reset", "op_retract", "op_retract_enable", "op_sort_enable",
     "op_contourinput", "op_contour_z", "op_contour_z_reset", "op_diametererror"},
    // 17 Fillet Carving
    {"op_maxdepth", "op_maxdepth_reset", "op_stepover", "op_stepover_percentage", "op_offset", "op_offset_reset",
     "op_link_enable", "op_sort_enable", "op_contourinput", "op_invertcontour", "op_contour_z",
     "op_contour_z_reset"},
};

inline std::set<std::string> opeditor_expectednames(int type)
{
    std::set<std::string> out(opeditor_commonnames.begin(), opeditor_commonnames.end());
    if (type >= 1 && type <= 17)
        out.insert(opeditor_typenames[type].begin(), opeditor_typenames[type].end());
    return out;
}
