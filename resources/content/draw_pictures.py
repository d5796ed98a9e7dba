#!/usr/bin/env python3
"""Draws the pictures of the content set with ImageMagick: the offer
pictures of the Exclusive page (90 x 90, floated at the left of an offer's
text) and the city maps of the Map tab (276 x 266, the box the map page
draws them in). Each picture is an ImageMagick vector drawing (MVG) made
here; the PNGs are kept beside the documents that name them, so run this
again after changing a drawing:

  python3 resources/content/draw_pictures.py

The office markers are not drawn: the map page places them from the
offices' map_x and map_y in maps.json, which must follow the streets here.
"""
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
MEDIA = os.path.join(HERE, "media")
FONTS = "/usr/share/fonts/truetype/paratype"
REGULAR = os.path.join(FONTS, "PTS55F.ttf")
BOLD = os.path.join(FONTS, "PTS75F.ttf")
ITALIC = os.path.join(FONTS, "PTS56F.ttf")

# Orvella's palette (resources/images/palette.css).
ACCENT, ACCENT_DARK, TINT, INK = "#CC0000", "#A30000", "#FBE9E7", "#1B2130"
GROUND, BLOCK, PARK, TREE, WATER = "#EEEBE3", "#E2DDD2", "#CFE3C2", "#B5D3A3", "#BCD7EA"
KERB, LABEL, WATER_LABEL, PARK_LABEL = "#D8D1C3", "#8A8475", "#6E93AE", "#5E8F4B"


def render(path, width, height, background, mvg):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    # The drawing goes in as an argument (Debian's ImageMagick policy
    # refuses "@file"), and the file gets no time stamps, so that an
    # unchanged drawing gives the same bytes. Eight bits a channel, as
    # the shipped pictures have.
    subprocess.run(["convert", "-size", "%dx%d" % (width, height), "xc:" + background,
                    "-draw", mvg, "-strip", "-depth", "8",
                    "-define", "png:exclude-chunks=date,time", path],
                   check=True)
    print("drew " + os.path.relpath(path, HERE))


# ------------------------------------------------------------ offers

def badge(text, x, y, width, angle=12):
    return f"""
push graphic-context
  translate {x},{y} rotate {angle}
  fill '{INK}' stroke none roundrectangle {-width / 2},-8 {width / 2},8 4,4
  fill white font '{BOLD}' font-size 10 text-anchor middle text 0,4 '{text}'
pop graphic-context"""


def offer(emblem, badge_text, badge_width=30):
    return f"""
fill '{TINT}' roundrectangle 0,0 89,89 10,10
fill white circle 45,47 45,17
{emblem}
{badge(badge_text, 64, 20, badge_width)}"""


OFFERS = {
    # A plate with a fork and a knife.
    "offer-trufel.png": offer(f"""
fill none stroke '{ACCENT}' stroke-width 3 circle 45,49 45,65
fill none stroke '{ACCENT}' stroke-width 1.5 circle 45,49 45,58
stroke none fill '{ACCENT_DARK}'
rectangle 22,30 25,68 rectangle 18,30 19,42 rectangle 28,30 29,42 roundrectangle 18,40 29,45 2,2
path 'M 66,30 C 72,36 72,48 68,50 L 68,68 L 65,68 Z'""", "−20%", 32),
    # An aeroplane seen from above.
    "offer-voyazh.png": offer(f"""
stroke none fill '{ACCENT}'
path 'M 45,22 C 48,22 49,26 49,30 L 49,42 L 70,54 L 70,59 L 49,52 L 49,64 L 56,70 L 56,73 L 45,70 L 34,73 L 34,70 L 41,64 L 41,52 L 20,59 L 20,54 L 41,42 L 41,30 C 41,26 42,22 45,22 Z'""",
                              "7%", 26),
    # Two cinema tickets.
    "offer-ekran.png": offer(f"""
push graphic-context
  translate 45,49 rotate -14
  stroke none fill '{ACCENT_DARK}' roundrectangle -20,-20 20,4 3,3
  fill white circle -20,-8 -16,-8 circle 20,-8 24,-8
pop graphic-context
push graphic-context
  translate 47,54 rotate 8
  stroke none fill '{ACCENT}' roundrectangle -22,-12 22,14 3,3
  fill white circle -22,1 -18,1 circle 22,1 26,1
  stroke white stroke-width 1 stroke-dasharray 2,2 line 12,-10 12,12
  stroke none fill white font '{BOLD}' font-size 9 text-anchor middle text -4,5 'КИНО'
pop graphic-context""", "1+1", 28),
    # A dumbbell.
    "offer-atlet.png": offer(f"""
push graphic-context
  translate 45,49 rotate -20
  stroke none fill '{INK}' rectangle -18,-3 18,3
  fill '{ACCENT}' roundrectangle -28,-14 -19,14 2,2 roundrectangle 19,-14 28,14 2,2
  fill '{ACCENT_DARK}' roundrectangle -35,-9 -28,9 2,2 roundrectangle 28,-9 35,9 2,2
pop graphic-context""", "+1 мес", 38),
    # A lotus flower on water.
    "offer-lotos.png": offer(f"""
stroke none fill '#F3B6B0' ellipse 45,48 8,20 0,360
push graphic-context translate 45,66 rotate -38 fill '#E8453C' ellipse 0,-17 7,17 0,360 pop graphic-context
push graphic-context translate 45,66 rotate 38 fill '#E8453C' ellipse 0,-17 7,17 0,360 pop graphic-context
push graphic-context translate 45,66 rotate -72 fill '{ACCENT}' ellipse 0,-14 5,14 0,360 pop graphic-context
push graphic-context translate 45,66 rotate 72 fill '{ACCENT}' ellipse 0,-14 5,14 0,360 pop graphic-context
fill none stroke '#6E93AE' stroke-width 2 path 'M 24,72 Q 34,68 45,72 T 66,72'""", "−25%", 32),
}


# -------------------------------------------------------------- maps

def road(points, width, kerb=True):
    path = " ".join(("M" if i == 0 else "L") + " %g,%g" % p for i, p in enumerate(points))
    edge = f"stroke '{KERB}' stroke-width {width + 2} path '{path}'\n" if kerb else ""
    return f"{edge}stroke white stroke-width {width} path '{path}'\n"


def label(text, x, y, angle=0, colour=LABEL, font=REGULAR, size=8):
    return (f"push graphic-context translate {x},{y} rotate {angle} stroke none "
            f"fill '{colour}' font '{font}' font-size {size} text 0,0 '{text}' pop graphic-context\n")


def city(body):
    return f"fill none stroke-linecap butt stroke-linejoin round\n{body}"


def blocks(rectangles, colour=BLOCK):
    return "".join(f"stroke none fill '{colour}' roundrectangle {x},{y} {x + w},{y + h} 2,2\n"
                   for x, y, w, h in rectangles)


def trees(centres, colour=TREE, radius=6):
    return "".join(f"stroke none fill '{colour}' circle {x},{y} {x + radius},{y}\n"
                   for x, y in centres)


# Верхнереченск: the regional centre on a river. Avenues at x 58 and 188,
# y 62 and 230; streets at x 120 and y 112. The offices stand at their
# crossings (maps.json).
VERKHNERECHENSK = city(
    blocks([(8, 8, 42, 46), (66, 8, 46, 46), (128, 8, 52, 46), (8, 70, 42, 34),
            (128, 70, 52, 34), (196, 70, 72, 34), (8, 120, 42, 40), (128, 120, 52, 30),
            (196, 120, 72, 16), (8, 238, 42, 24), (66, 238, 46, 24), (128, 238, 52, 24),
            (196, 238, 72, 24), (66, 120, 46, 24), (196, 200, 72, 22), (128, 206, 52, 16)])
    + f"stroke none fill '{PARK}' roundrectangle 66,70 112,104 3,3\n"
    + trees([(78, 80), (96, 90), (104, 78), (84, 97)])
    + f"stroke '{WATER}' stroke-width 22 fill none path 'M -10,186 C 60,156 110,206 170,176 S 240,130 290,146'\n"
    + road([(0, 112), (276, 112)], 4, kerb=False)
    + road([(120, 0), (120, 266)], 4, kerb=False)
    + road([(0, 62), (276, 62)], 7) + road([(0, 230), (276, 230)], 7)
    + road([(58, 0), (58, 266)], 7) + road([(188, 0), (188, 266)], 7)
    + label("Ярмарочный пр.", 66, 59) + label("ул. Заречная", 196, 227)
    + label("Центральный пр.", 55, 170, -90) + label("ул. Садовая", 185, 106, -90)
    + label("ул. Мира", 128, 109) + label("Школьная ул.", 117, 200, -90)
    + label("р. Верхняя", 206, 150, -8, WATER_LABEL, ITALIC)
    + label("парк", 70, 102, 0, PARK_LABEL))

# Новоборск: a small town between a pine forest and the railway. Main
# street at x 140, streets at y 80 and 206, the railway at y 150 with the
# station square on it.
NOVOBORSK = city(
    f"stroke none fill '{PARK}' path 'M -5,-5 L 110,-5 C 120,30 95,50 100,70 L -5,72 Z'\n"
    + trees([(14, 12), (36, 22), (60, 10), (84, 26), (20, 44), (48, 52), (76, 48), (92, 8)],
            "#9CC28A", 7)
    + blocks([(150, 10, 46, 60), (8, 90, 60, 50), (80, 90, 50, 50), (150, 90, 50, 50),
              (212, 90, 56, 50), (8, 216, 60, 44), (80, 216, 50, 44), (150, 216, 50, 44),
              (212, 216, 56, 44), (8, 160, 60, 38), (212, 160, 56, 38)])
    + f"stroke none fill '#E6E1D6' roundrectangle 110,158 170,198 3,3\n"
    + road([(0, 80), (276, 80)], 6) + road([(0, 206), (276, 206)], 6)
    + road([(140, 0), (140, 266)], 7) + road([(206, 80), (206, 266)], 4, kerb=False)
    + road([(74, 80), (74, 266)], 4, kerb=False)
    + f"stroke '#8A8475' stroke-width 3 path 'M 0,150 L 276,150'\n"
    + f"stroke white stroke-width 1.5 stroke-dasharray 5,5 path 'M 0,150 L 276,150'\n"
    + f"stroke-dasharray none stroke none fill '{INK}' roundrectangle 150,138 186,146 2,2\n"
    + label("ул. Лесная", 8, 77) + label("Вокзальная пл.", 116, 192)
    + label("ул. Победы", 214, 203) + label("Сосновый бор", 14, 66, 0, PARK_LABEL, ITALIC)
    + label("Главная ул.", 137, 246, -90) + label("ж/д", 232, 146) + label("вокзал", 152, 135))

# Светлоярск: a town round a lake, no office yet.
SVETLOYARSK = city(
    blocks([(8, 8, 60, 40), (84, 8, 70, 40), (170, 8, 30, 40), (8, 218, 60, 40),
            (84, 218, 80, 40), (180, 218, 88, 40), (8, 64, 40, 138), (228, 64, 40, 138)])
    + f"stroke none fill '{PARK}' ellipse 138,133 78,62 0,360\n"
    + f"stroke none fill '{WATER}' ellipse 138,133 62,46 0,360\n"
    + trees([(78, 96), (196, 92), (84, 176), (200, 174), (138, 190)])
    + road([(0, 56), (276, 56)], 7) + road([(0, 210), (276, 210)], 7)
    + road([(56, 0), (56, 266)], 6) + road([(220, 56), (220, 266)], 6)
    + label("оз. Светлое", 112, 136, 0, WATER_LABEL, ITALIC)
    + label("Озёрная ул.", 64, 53) + label("ул. Родниковая", 64, 207)
    + label("Лесной пер.", 53, 190, -90))

MAPS = {
    "verkhnerechensk.png": VERKHNERECHENSK,
    "novoborsk.png": NOVOBORSK,
    "svetloyarsk.png": SVETLOYARSK,
}


def main():
    for name, mvg in OFFERS.items():
        render(os.path.join(MEDIA, "exclusive", name), 90, 90, "none", mvg)
    for name, mvg in MAPS.items():
        render(os.path.join(MEDIA, "maps", name), 276, 266, GROUND, mvg)


if __name__ == "__main__":
    main()
