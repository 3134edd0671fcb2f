// The picture options of xlsroundtrip, through the facade (numbers from 1
// on the command line, the sheet made active), and the picture modes.
#pragma once

#include "tests/tools/xlsroundtrip/FormulaOptions.h"

namespace xlsroundtrip {

// At argv[i], i moved past the option; none for anything else. The type
// comes from FILE's extension (png, jpg/jpeg, bmp, wmf, emf, any case),
// else "Unknown picture type: FILE"; ANCHOR 0-2.
//   --picture SHEET ROW COL HEIGHT WIDTH FILE   AddPicture at the cell's corner
//   --replace SHEET N FILE                      AssignPicture
//   --place SHEET N ROW COL DY DX HEIGHT WIDTH ANCHOR  AssignPictureProperties
//   --comment-box SHEET ROW COL TEXT            SetCellComment with its own box
//   --claim-color RRGGBB                        NearestColorIndex with the used
//                                               colours; the index on stdout
TFacadeChange ParsePictureOption(char** argv, int argc, int& i);

// -1 for other command lines, else the exit status:
//   --pictures IN: a line per picture, worksheets in order: sheet, N, kind
//     (png, jpeg, bmp, wmf, emf, unknown), the disk image's length and MD5
//     (lower-case hex; "-" for both without one), anchor flags, the anchor
//     (col1 dx1 row1 dy1 col2 dx2 row2 dy2, rows and columns from 1), the
//     decoded size WxH ("-" when it does not decode); tab-separated.
//   --picture-file IN SHEET N OUT: the disk image.
//   --picture-pixels IN SHEET N OUT: binary PPM of the decoded raster;
//     other pictures: status 1, "Picture N is not a raster image".
int RunPictureMode(int argc, char** argv);

}  // namespace xlsroundtrip
