/* The shared library is made of the objects of norva_core; this file only
 * gives the target a source of its own. */
typedef int norva_export_anchor_unused;
