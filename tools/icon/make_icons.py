"""Draws the program's icon at the sizes of the desktop's icon theme, as data/icons/lirrosa.svg
draws it: data/icons/lirrosa-SIZE.png. Run with /usr/bin/python3 (PIL) after changing the SVG.
"""

import os

from PIL import Image, ImageDraw

SIZES = [16, 32, 48, 64, 128, 256]
SCALE = 4  # drawn larger, then reduced: smooth edges
FOLDER = os.path.join(os.path.dirname(__file__), "..", "..", "data", "icons")

# The wave: the SVG's path "M44 150 C 64 150, 66 96, 86 96 S 108 170, 128 170 S 150 80, 170 80
# S 196 140, 212 140", its smooth segments written out with their mirrored control points.
WAVE = [((44, 150), (64, 150), (66, 96), (86, 96)),
        ((86, 96), (106, 96), (108, 170), (128, 170)),
        ((128, 170), (148, 170), (150, 80), (170, 80)),
        ((170, 80), (190, 80), (196, 140), (212, 140))]
NOTES = [(52, 40, "#ffd23c"), (100, 28, "#ff6f3c"), (136, 44, "#7cff5a"), (188, 24, "#c07cff")]


def bezier(p0, p1, p2, p3, steps=40):
    points = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        points.append(tuple(u ** 3 * a + 3 * u * u * t * b + 3 * u * t * t * c + t ** 3 * d
                            for a, b, c, d in zip(p0, p1, p2, p3)))
    return points


def draw(size):
    k = size * SCALE / 256
    picture = Image.new("RGBA", (size * SCALE, size * SCALE), (0, 0, 0, 0))
    pen = ImageDraw.Draw(picture)
    box = lambda x, y, w, h: [x * k, y * k, (x + w) * k, (y + h) * k]
    # The face's vertical gradient, inside its rounded outline.
    mask = Image.new("L", picture.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box(5, 5, 246, 246), radius=59 * k, fill=255)
    gradient = Image.new("RGBA", picture.size)
    for y in range(picture.size[1]):
        f = y / picture.size[1]
        colour = tuple(int(a + (b - a) * f) for a, b in zip((0x4a, 0x4f, 0x57), (0x1c, 0x1f, 0x24))) + (255,)
        ImageDraw.Draw(gradient).line([(0, y), (picture.size[0], y)], fill=colour)
    picture.paste(gradient, (0, 0), mask)
    pen.rounded_rectangle(box(5, 5, 246, 246), radius=59 * k, outline="#0b0c0e", width=max(1, round(6 * k)))
    pen.rounded_rectangle(box(36, 52, 184, 152), radius=14 * k, fill="#0f2a33")
    for left, width, colour in NOTES:
        pen.rounded_rectangle(box(left, 64, width, 14), radius=4 * k, fill=colour)
    points = [(x * k, y * k) for segment in WAVE for x, y in bezier(*segment)]
    pen.line(points, fill="#00e5ff", width=max(1, round(10 * k)), joint="curve")
    pen.ellipse(box(121, 219, 14, 14), fill="#00e5ff")
    return picture.resize((size, size), Image.LANCZOS)


if __name__ == "__main__":
    for size in SIZES:
        draw(size).save(os.path.join(FOLDER, f"lirrosa-{size}.png"))
