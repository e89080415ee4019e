#!/usr/bin/python3
# Writes KestruneCaption.otf: the glyphs of the window's button caption
# "PDF ファイル選択" and of basic Latin, taken from Noto Sans CJK JP Regular
# (SIL Open Font License 1.1, see OFL.txt), so that the program shows its own
# caption on a machine without a CJK font. The family is renamed, as the
# licence asks of a modified version, and the copyright notice stays.
#
#   window/fonts/make-caption-font.py [/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc]
#
# Needs fonttools (Debian package fonttools) and fonts-noto-cjk.
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

SOURCE = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
TARGET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "KestruneCaption.otf")
FAMILY = "Kestrune Caption"
CAPTION = "PDF ファイル選択"

font = TTFont(SOURCE, fontNumber=0)  # Noto Sans CJK JP in the collection
options = subset.Options()
options.layout_features = ["kern", "palt", "liga", "ccmp", "locl"]
options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14]  # copyright and licence kept
options.hinting = False
options.desubroutinize = True
subsetter = subset.Subsetter(options)
subsetter.populate(unicodes=[ord(c) for c in CAPTION] + list(range(0x20, 0x7F)))
subsetter.subset(font)

names = font["name"]
for record in list(names.names):
    if record.nameID in (1, 3, 4, 6, 16, 17):
        names.removeNames(nameID=record.nameID)
names.setName(FAMILY, 1, 3, 1, 0x409)
names.setName("Regular", 2, 3, 1, 0x409)
names.setName(FAMILY + " Regular; subset of Noto Sans CJK JP", 3, 3, 1, 0x409)
names.setName(FAMILY, 4, 3, 1, 0x409)
names.setName(FAMILY.replace(" ", "") + "-Regular", 6, 3, 1, 0x409)
if "CFF " in font:
    cff = font["CFF "].cff
    cff.fontNames = [FAMILY.replace(" ", "") + "-Regular"]
    top = cff.topDictIndex[0]
    top.FamilyName = FAMILY
    top.FullName = FAMILY
font.save(TARGET)
print(TARGET, os.path.getsize(TARGET), "bytes")
