#!/usr/bin/env python3
"""Writes the editor's design: the layout document resources/ui/figma-elements.json
and every SVG it or the keyboards use. The whole look follows from the constants
below; run this after changing one and commit what it writes.

    python3 tools/design/generate_design.py
"""

import json
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.path.join(ROOT, "resources", "ui")

# ---------------------------------------------------------------- geometry
WIDTH, HEIGHT = 1200, 1084
MARGIN = 24                      # left and right edge of everything
HEADER_ROW_Y, HEADER_ROW_H = 14, 30
CARD_Y, CARD_H, CARD_GAP = 60, 104, 12
LINE_H = 26                      # one line of controls inside a card
ROW_SPACING = 226                # keyboard_1 y minus keyboard_2 y
KEYS_Y = 190                     # top of the highest row ("keyboard_4")
WHITE_W, WHITE_H = 23.5, 170.0   # 49 white keys span 1151.5 units
BLACK_W, BLACK_H = 14.0, 106.0
OCTAVES = 7                      # keys 24..107

# ---------------------------------------------------------------- colours
BG = "#0e1821"
HEADER_GLOW = "#1b2d3d"
CARD = "#142330"
CARD_EDGE = "#223647"
CARD_TOP = "#18293a"
TEXT = "#e6edf2"
CAPTION = "#7d92a3"
BUTTON = "#1a2a38"
BUTTON_EDGE = "#2c4254"
BUTTON_HOVER_EDGE = "#4f7590"
BUTTON_PRESSED = "#111d27"
ACCENT = "#f4b03c"               # recorded notes, lit buttons
ACCENT_DARK = "#3a2c10"
CURSOR = "#64c8ff"
SNAP = "#3c9ef4"
RECORD = "#ff4d4d"
DARK = "#13202b"
FELT = "#7d2a34"

FONT = "DM Sans"
FRAMES_TOGGLE, FRAMES_ACTION, FRAMES_KEY = 6, 3, 2

assets = {}          # file name -> SVG text
elements = []        # top-level layout entries


# ---------------------------------------------------------------- SVG helpers
def num(v):
    v = round(v, 3)
    return str(int(v)) if v == int(v) else str(v)


def svg_doc(w, h, body):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%s" height="%s" viewBox="0 0 %s %s">%s</svg>\n'
            % (num(w), num(h), num(w), num(h), body))


def filmstrip(w, h, frames):
    """Frames stacked vertically as nested svg elements, one per state."""
    inner = "".join('<svg x="0" y="%s" width="%s" height="%s" viewBox="0 0 %s %s">%s</svg>'
                    % (num(i * h), num(w), num(h), num(w), num(h), f) for i, f in enumerate(frames))
    return svg_doc(w, h * len(frames), inner)


def vgrad(gid, top, bottom):
    return ('<defs><linearGradient id="%s" x1="0" y1="0" x2="0" y2="1">'
            '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/></linearGradient></defs>'
            % (gid, top, bottom))


def rrect(x, y, w, h, r, fill, stroke=None, sw=1.0, extra=""):
    s = '<rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="%s"' % (num(x), num(y), num(w), num(h), num(r), fill)
    if stroke:
        s += ' stroke="%s" stroke-width="%s"' % (stroke, num(sw))
    return s + extra + "/>"


def key_path(x0, x1, y0, y1, r):
    """Square top, rounded bottom corners."""
    return ("M%s %s H%s V%s Q%s %s %s %s H%s Q%s %s %s %s Z"
            % (num(x0), num(y0), num(x1), num(y1 - r), num(x1), num(y1), num(x1 - r), num(y1),
               num(x0 + r), num(x0), num(y1), num(x0), num(y1 - r)))


def add_asset(name, text):
    assets[name] = text
    return name


# Icons in a 16 x 16 box: (paths to stroke, paths to fill).
ICONS = {
    "record": ([], ["M8 3.2 A4.8 4.8 0 1 1 7.99 3.2 Z"]),
    "thru": (["M2 8 H13", "M9.5 4.5 L13 8 L9.5 11.5", "M5.5 3 V13"], []),
    "undo": (["M6 3.5 L2.5 7 L6 10.5", "M2.5 7 H10 A3.5 3.5 0 0 1 10 14 H7"], []),
    "redo": (["M10 3.5 L13.5 7 L10 10.5", "M13.5 7 H6 A3.5 3.5 0 0 0 6 14 H9"], []),
    "step_backward": (["M3.5 3 V13"], ["M13 3 L5.5 8 L13 13 Z"]),
    "step_forward": (["M12.5 3 V13"], ["M3 3 L10.5 8 L3 13 Z"]),
    "higher_keyboard": (["M3 9 L8 4 L13 9", "M3 13 L8 8 L13 13"], []),
    "lower_keyboard": (["M3 3 L8 8 L13 3", "M3 7 L8 12 L13 7"], []),
    "transpose_up": (["M8 13.5 V3", "M4 7 L8 3 L12 7", "M4 13.5 H12"], []),
    "transpose_down": (["M8 2.5 V13", "M4 9 L8 13 L12 9", "M4 2.5 H12"], []),
    "speed_up": ([], ["M1.5 3 L8 8 L1.5 13 Z", "M8 3 L14.5 8 L8 13 Z"]),
    "slow_down": (["M4 3.5 L12 8 L4 12.5 Z"], []),
    "chevron": (["M4.5 6.5 L8 10 L11.5 6.5"], []),
    "minus": (["M4 8 H12"], []),
    "plus": (["M4 8 H12", "M8 4 V12"], []),
}


def icon(name, colour, cx, cy, size, accent=None):
    strokes, fills = ICONS[name]
    s = size / 16.0
    tf = 'transform="translate(%s %s) scale(%s)"' % (num(cx - size / 2), num(cy - size / 2), num(s))
    fill_colour = accent if (accent and name == "record") else colour
    out = "<g %s>" % tf
    for d in strokes:
        out += ('<path d="%s" fill="none" stroke="%s" stroke-width="%s" stroke-linecap="round" stroke-linejoin="round"/>'
                % (d, colour, num(1.6)))
    for d in fills:
        out += '<path d="%s" fill="%s"/>' % (d, fill_colour)
    return out + "</g>"


# ---------------------------------------------------------------- button art
def toggle_art(w, h, icon_name=None):
    """Six states: off, on, off pressed, on pressed, off hovered, on hovered."""
    name = "btn_toggle_%s%sx%s.svg" % ((icon_name + "_") if icon_name else "", num(w), num(h))
    if name in assets:
        return name
    frames = []
    for i, (on, state) in enumerate([(0, ""), (1, ""), (0, "p"), (1, "p"), (0, "h"), (1, "h")]):
        if on:
            fill = {"": ACCENT_DARK, "p": "#2a200b", "h": "#4a3814"}[state]
            edge = ACCENT if state != "p" else "#c98d2c"
        else:
            fill = {"": BUTTON, "p": BUTTON_PRESSED, "h": "#203345"}[state]
            edge = {"": BUTTON_EDGE, "p": BUTTON_EDGE, "h": BUTTON_HOVER_EDGE}[state]
        body = rrect(0.5, 0.5, w - 1, h - 1, 5, fill, edge)
        if on:  # a lamp line under the label
            body += rrect(w / 2 - 7, h - 4, 14, 1.6, 0.8, ACCENT)
        if icon_name:
            colour = DARK if on else "#a9bccb"
            if on:
                body = rrect(0.5, 0.5, w - 1, h - 1, 5, {"": ACCENT, "p": "#d9972f", "h": "#ffc45a"}[state], edge)
            body += icon(icon_name, colour, w / 2, h / 2, min(w, h) - 12, accent=RECORD if not on else DARK)
        frames.append(body)
    return add_asset(name, filmstrip(w, h, frames))


def power_art():
    """A small switch; six states like every toggle."""
    w, h = 24, 13
    name = "btn_power.svg"
    if name in assets:
        return name
    frames = []
    for on, state in [(0, ""), (1, ""), (0, "p"), (1, "p"), (0, "h"), (1, "h")]:
        edge = (ACCENT if on else BUTTON_EDGE) if state != "h" else ("#ffc45a" if on else BUTTON_HOVER_EDGE)
        track = ("#4a3510" if on else "#0d1820") if state != "p" else "#08111a"
        knob_x = w - 6.5 if on else 6.5
        knob = ACCENT if on else "#6d8191"
        frames.append(rrect(0.5, 0.5, w - 1, h - 1, (h - 1) / 2, track, edge)
                      + '<circle cx="%s" cy="%s" r="4" fill="%s"/>' % (num(knob_x), num(h / 2), knob))
    return add_asset(name, filmstrip(w, h, frames))


def action_art(w, h, style="plain", icon_name=None):
    """Three states: normal, pressed, hovered."""
    name = "btn_%s_%s%sx%s.svg" % (style, (icon_name + "_") if icon_name else "", num(w), num(h))
    if name in assets:
        return name
    frames = []
    for state in ["", "p", "h"]:
        if style == "primary":
            fill = {"": ACCENT, "p": "#d9972f", "h": "#ffc45a"}[state]
            body = rrect(0.5, 0.5, w - 1, h - 1, 5, fill, "#ffd27d" if state == "h" else "#c98d2c")
            ink = DARK
        elif style == "field":
            fill = "#0b141c" if state != "p" else "#09111a"
            edge = {"": BUTTON_EDGE, "p": BUTTON_EDGE, "h": CURSOR}[state]
            body = rrect(0.5, 0.5, w - 1, h - 1, 5, fill, edge)
            ink = "#a9bccb"
        elif style == "handle":
            fill = {"": SNAP, "p": "#2d7fc8", "h": "#6bb8ff"}[state]
            body = rrect(0.5, 0.5, w - 1, h - 1, 3, fill, "#9fd0ff", 0.8)
            body += "".join('<path d="M%s %s V%s" stroke="%s" stroke-width="1" stroke-linecap="round"/>'
                            % (num(x), num(h * 0.3), num(h * 0.7), DARK) for x in (w / 2 - 2, w / 2 + 2))
            ink = DARK
        elif style == "mover":
            fill = {"": "#1f1a10", "p": "#151109", "h": "#2e2612"}[state]
            body = rrect(0.5, 0.5, w - 1, h - 1, h / 2 - 0.5, fill, ACCENT if state != "p" else "#c98d2c")
            for x0, d in ((6, 1), (w - 6, -1)):
                body += '<path d="M%s %s L%s %s L%s %s Z" fill="%s"/>' % (
                    num(x0), num(h / 2), num(x0 + 4 * d), num(h / 2 - 3), num(x0 + 4 * d), num(h / 2 + 3), ACCENT)
            ink = ACCENT
        else:
            fill = {"": BUTTON, "p": BUTTON_PRESSED, "h": "#203345"}[state]
            edge = {"": BUTTON_EDGE, "p": BUTTON_EDGE, "h": BUTTON_HOVER_EDGE}[state]
            body = rrect(0.5, 0.5, w - 1, h - 1, 5, fill, edge)
            ink = "#c4d3de" if state != "h" else "#ffffff"
        if icon_name:
            size = min(h - 10, 14)
            cx = w - 12 if style == "field" else w / 2
            body += icon(icon_name, ink, cx, h / 2, size)
        frames.append(body)
    return add_asset(name, filmstrip(w, h, frames))


def panel_art(w, h, name_hint, fill=CARD, edge=CARD_EDGE, radius=8, top=CARD_TOP, opacity=1.0):
    name = "panel_%s_%sx%s.svg" % (name_hint, num(w), num(h))
    extra = ' fill-opacity="%s"' % num(opacity) if opacity < 1 else ""
    if top == fill:   # large panels: a plain fill is cheaper to draw than a gradient
        body = rrect(0.5, 0.5, w - 1, h - 1, radius, fill, edge, extra=extra)
    else:
        body = vgrad("p", top, fill) + rrect(0.5, 0.5, w - 1, h - 1, radius, "url(#p)", edge, extra=extra)
    return add_asset(name, svg_doc(w, h, body))


# ---------------------------------------------------------------- key sprites
# The keyboards draw hundreds of these: gradients only where they are small,
# and no pixel of a white key is filled twice.
def white_key(face, face_low, lip, edge):
    w, h = WHITE_W, WHITE_H
    frames = []
    for held in (0, 1):
        bottom = h - (1.5 if held else 0.5)
        lip_top = int(bottom - (3 if held else 6))   # whole units: no seam between the parts
        shade_top = lip_top - 28
        body = vgrad("w%d" % held, face[held], face_low[held])
        body += '<path d="M0.6 0 H%s V%s H0.6 Z" fill="%s"/>' % (num(w - 0.6), num(shade_top), face[held])
        body += '<path d="M0.6 %s H%s V%s H0.6 Z" fill="url(#w%d)"/>' % (num(shade_top), num(w - 0.6), num(lip_top), held)
        body += '<path d="%s" fill="%s"/>' % (key_path(0.6, w - 0.6, lip_top, bottom, 3), lip[held])
        body += '<path d="M%s 0 V%s" stroke="%s" stroke-width="0.6"/>' % (num(w - 0.3), num(bottom - 3), edge)
        frames.append(body)
    return filmstrip(w, h, frames)


def black_key(body_col, face, face_low):
    w, h = BLACK_W, BLACK_H
    frames = []
    for held in (0, 1):
        face_end = h - (4 if held else 9)
        body = vgrad("b%d" % held, face[held], face_low[held])
        body += '<path d="%s" fill="%s"/>' % (key_path(0, w, 0, h, 2), body_col[held])
        body += '<path d="%s" fill="url(#b%d)"/>' % (key_path(1.6, w - 1.6, 0, face_end, 2), held)
        frames.append(body)
    return filmstrip(w, h, frames)


def modifier_key(icon_name):
    """Command keys: same art on white and black positions, icon low on the key."""
    w, h = WHITE_W, WHITE_H
    frames = []
    for lit in (0, 1):
        gid = "m%d" % lit
        top, bottom = ("#2a4053", "#1d2e3d") if not lit else ("#ffc966", "#e79a2c")
        body = vgrad(gid, top, bottom)
        body += '<path d="%s" fill="url(#%s)" stroke="%s" stroke-width="0.6"/>' % (
            key_path(0.6, w - 0.6, 0, h - 0.5, 3), gid, "#3a5770" if not lit else "#ffd98c")
        ink = "#b5c7d5" if not lit else DARK
        body += icon(icon_name, ink, w / 2, h * 0.83, 15, accent=RECORD if not lit else DARK)
        frames.append(body)
    return filmstrip(w, h, frames)


def lock_badge():
    """Drawn on lit (amber) and unlit (slate) command keys alike: white, outlined dark."""
    body = ('<path d="M3.4 6 V4.4 A2.6 2.6 0 0 1 8.6 4.4 V6" fill="none" stroke="%s" stroke-width="2.6"/>'
            '<path d="M3.4 6 V4.4 A2.6 2.6 0 0 1 8.6 4.4 V6" fill="none" stroke="#ffffff" stroke-width="1.3"/>'
            % (DARK,)) + rrect(1.5, 5.5, 9, 7.5, 1.5, "#ffffff", DARK, 1.0) + '<circle cx="6" cy="9.2" r="1.2" fill="%s"/>' % DARK
    return svg_doc(12, 14, body)


def keybed_art(w, h):
    """The case around a row of keys; only its rim is drawn, the keys cover the rest."""
    outer = ("M8.5 0.5 H%s Q%s 0.5 %s 8.5 V%s Q%s %s %s %s H8.5 Q0.5 %s 0.5 %s V8.5 Q0.5 0.5 8.5 0.5 Z"
             % (num(w - 8.5), num(w - 0.5), num(w - 0.5), num(h - 8.5), num(w - 0.5), num(h - 0.5), num(w - 8.5),
                num(h - 0.5), num(h - 0.5), num(h - 8.5)))
    inner = "M8 8 V%s H%s V8 Z" % (num(h - 6), num(w - 8))
    body = '<path d="%s %s" fill="#080e14" fill-rule="evenodd" stroke="#1f3040" stroke-width="1"/>' % (outer, inner)
    return add_asset("panel_keybed_%sx%s.svg" % (num(w), num(h)), svg_doc(w, h, body))


def make_key_sprites():
    add_asset("pno_key_playable_empty_white.svg", white_key(
        ("#fbfaf6", "#e3effa"), ("#ebe7de", "#cfe1f0"), ("#cfc9bd", "#b8cadb"), "#a9a398"))
    add_asset("pno_key_playable_empty_black.svg", black_key(
        ("#07090c", "#0a121a"), ("#3b4550", "#2a4b66"), ("#161c23", "#17293a")))
    add_asset("pno_key_playable_triggered_white.svg", white_key(
        ("#fff3d3", "#ffe6a8"), ("#f5d890", "#efc866"), ("#d8b56a", "#c9a24e"), "#b3924c"))
    add_asset("pno_key_playable_triggered_black.svg", black_key(
        ("#1d1506", "#241a07"), ("#7a5b1c", "#946c1f"), ("#3a2a0c", "#4a340d")))
    add_asset("pno_key_keysnap_active_white.svg", white_key(
        ("#e3eefa", "#cfe3f8"), ("#bdd6f0", "#a6c8ec"), ("#94b4d6", "#7fa4cc"), "#7d9cbd"))
    add_asset("pno_key_keysnap_active_black.svg", black_key(
        ("#08121c", "#0a1826"), ("#2b5680", "#336699"), ("#112a42", "#16344f")))
    add_asset("pno_key_keysnap_inactive_white.svg", white_key(
        ("#a3acb4", "#98a2ab"), ("#8b949c", "#818b94"), ("#6f777f", "#666e76"), "#5d656c"))
    add_asset("pno_key_keysnap_inactive_black.svg", black_key(
        ("#0b0d10", "#0b0d10"), ("#30363d", "#363d45"), ("#181c21", "#1c2127")))
    for art, ic in [("record", "record"), ("undo", "undo"), ("thru", "thru"), ("redo", "redo"),
                    ("step_backward", "step_backward"), ("step_forward", "step_forward"),
                    ("higher_keyboard", "higher_keyboard"), ("lower_keyboard", "lower_keyboard"),
                    ("transpose_up", "transpose_up"), ("transpose_down", "transpose_down"),
                    ("speed_up", "speed_up"), ("slow_down", "slow_down")]:
        add_asset("pno_key_modifier_%s.svg" % art, modifier_key(ic))
    add_asset("Lock.svg", lock_badge())


# ---------------------------------------------------------------- layout helpers
def el(name, x, y, w, h, **kw):
    e = {"name": name, "x": round(x, 3), "y": round(y, 3), "width": round(w, 3), "height": round(h, 3)}
    e.update(kw)
    return e


def text_style(size, colour=TEXT, weight=700, align="CENTER", spacing=0, box=None, w=0, h=0):
    t = {"color": colour, "fontSize": size, "fontFamily": FONT, "fontWeight": weight,
         "textAlignHorizontal": align}
    if spacing:
        t["letterSpacing"] = spacing
    # The text rectangle leaves room above and below so the renderer never has
    # to make the element taller for its text.
    bx = box if box is not None else (0, 3, w, h - 6)
    t.update({"x": bx[0], "y": bx[1], "width": bx[2], "height": bx[3]})
    return t


def caption(name, x, y, w, label, size=9, colour=CAPTION, align="LEFT", spacing=12):
    return el(name, x, y, w, 14, textContent=label, text=text_style(size, colour, 700, align, spacing, box=(0, 0, w, 12)))


def label_button(name, x, y, w, h, label, frames=FRAMES_TOGGLE, style="plain", size=10, shadow=True):
    art = toggle_art(w, h) if frames == FRAMES_TOGGLE else action_art(w, h, style)
    ink = DARK if style == "primary" else TEXT
    e = el(name, x, y, w, h, numFrames=frames, imgFile=art, textContent=label, dynamicText=True,
           text=text_style(size, ink, 700, "CENTER", 6, w=w, h=h))
    if shadow:
        e["shadow"] = {"color": "#000000", "alpha": 0.45, "blur": 6, "offsetX": 0, "offsetY": 2, "spread": 0}
    return e


def icon_button(name, x, y, w, h, icon_name):
    return el(name, x, y, w, h, numFrames=FRAMES_TOGGLE, imgFile=toggle_art(w, h, icon_name),
              shadow={"color": "#000000", "alpha": 0.45, "blur": 6, "offsetX": 0, "offsetY": 2, "spread": 0})


def options_button(name, x, y, w, h):
    return el(name, x, y, w, h, numFrames=FRAMES_ACTION, imgFile=action_art(w, h, "plain", "chevron"))


def power(name, x, y, w=24):
    return el(name, x, y, 24, 13, numFrames=FRAMES_TOGGLE, imgFile=power_art())


def value_field(name, x, y, w, h, label, frames=FRAMES_ACTION):
    """A dragged or typed value: dark inset field with dynamic text."""
    return el(name, x, y, w, h, numFrames=frames, imgFile=action_art(w, h, "field"), textContent=label,
              dynamicText=True, text=text_style(10, TEXT, 700, "CENTER", 4, w=w, h=h),
              innerShadow={"color": "#000000", "alpha": 0.6, "blur": 3, "offsetX": 0, "offsetY": 1})


class Row:
    """Places controls left to right inside a card line."""

    def __init__(self, x, y, gap=5):
        self.x, self.y, self.gap = x, y, gap
        self.items = []

    def add(self, make, w, *args, dy=0, gap=None, **kw):
        self.items.append(make(*args[:1], self.x, self.y + dy, w, *args[1:], **kw))
        self.x += w + (self.gap if gap is None else gap)
        return self

    def skip(self, w):
        self.x += w
        return self


def card(title, x, w, lines):
    """A section: background, title caption and up to two lines of controls."""
    children = [caption("%s_title" % title.lower().replace(" ", "_"), 12, 9, w - 24, title, size=9, colour="#9fb2c1", spacing=16)]
    for items in lines:
        children.extend(items)
    return el("section_%s" % title.lower().replace(" ", "_"), x, CARD_Y, w, CARD_H, isBg=True,
              imgFile=panel_art(w, CARD_H, "card"), children=children)


def line_y(i):
    return 30 + i * (LINE_H + 8)


def line_caption(name, label, y, w):
    return caption(name, 12, y + (LINE_H - 12) / 2 + 2, w, label)


# ---------------------------------------------------------------- sections
def header():
    items = []
    items.append(el("title", MARGIN, HEADER_ROW_Y, 122, HEADER_ROW_H, numFrames=FRAMES_ACTION, textContent="QUORVEL",
                    text=text_style(22, "#f6efe3", 700, "LEFT", 14, box=(0, 2, 122, 24))))

    # Preset bar.
    bx, by, bh = 222, HEADER_ROW_Y + 1, 28
    bar = [
        el("dec_preset", 0, 0, 26, bh, numFrames=FRAMES_ACTION, imgFile=action_art(26, bh, "plain", "chevron_left")),
        el("preset_browser", 30, 0, 252, bh, numFrames=FRAMES_ACTION, imgFile=action_art(252, bh, "field", "chevron"),
           textContent="Init", dynamicText=True,
           text=text_style(12, TEXT, 700, "LEFT", 2, box=(12, 3, 216, bh - 6)),
           innerShadow={"color": "#000000", "alpha": 0.6, "blur": 3, "offsetX": 0, "offsetY": 1}),
        el("inc_preset", 286, 0, 26, bh, numFrames=FRAMES_ACTION, imgFile=action_art(26, bh, "plain", "chevron_right")),
        label_button("save_preset", 316, 0, 50, bh, "SAVE", frames=FRAMES_ACTION),
    ]
    items.append(el("preset_bar", bx, by, 366, bh, children=bar))

    # Modifier buttons: every command of the modifier keys, for the mouse.
    bw, bh2, ow = 28, 28, 13
    x, y = 606, HEADER_ROW_Y + 1
    mods = []
    groups = [[("record", "record"), ("resample", "thru")],
              [("undo", "undo"), ("redo", "redo")],
              [("step_backward", "step_backward"), ("step_forward", "step_forward")],
              [("transpose_down", "transpose_down"), ("transpose_up", "transpose_up")],
              [("invert_down", "lower_keyboard"), ("invert_up", "higher_keyboard")],
              [("slow_down", "slow_down"), ("speed_up", "speed_up")]]
    with_options = {"invert_down", "invert_up", "slow_down", "speed_up"}
    for g in groups:
        for name, ic in g:
            mods.append(icon_button(name, x - 606, 0, bw, bh2, ic))
            x += bw + 2
            if name in with_options:
                mods.append(options_button(name + "_options", x - 606, 0, ow, bh2))
                x += ow + 2
        x += 7
    mods.append(caption("modifier_octave_caption", x - 606, 10, 26, "OCT", spacing=8))
    mods.append(value_field("modifier_octave", x - 606 + 27, 0, 36, bh2, "C2"))
    x += 27 + 36
    items.append(el("modifier_buttons", 606, y, x - 606, bh2, children=mods))
    return items


def sections():
    """Four cards; each is as wide as its widest line, the last takes the rest."""
    h = LINE_H
    l0, l1 = line_y(0), line_y(1)
    pad = 12

    def plain(icon_name):
        return lambda n, x_, y_, w_, h_: el(n, x_, y_, w_, h_, numFrames=FRAMES_ACTION,
                                            imgFile=action_art(w_, h_, "plain", icon_name))

    # Quantize: input (recording) and launch.
    c = 56
    quantize = ("QUANTIZE", [
        ("quantize_input_caption", "INPUT", powered_row(c, l0, "note_quantize_power")
            .add(label_button, 52, "input_quantization_time_value", h, "1/16")
            .add(label_button, 78, "input_quantization_time_unit", h, "STRAIGHT")
            .add(value_field, 58, "note_quantize_amt", h, "0%")),
        ("quantize_launch_caption", "LAUNCH", powered_row(c, l1, "clip_launch_power")
            .add(label_button, 52, "clip_quantization_time_value", h, "1/4")
            .add(label_button, 78, "clip_quantization_time_unit", h, "STRAIGHT"))])

    # Loop and dynamics.
    c = 70
    phrase = ("PHRASE", [
        ("loop_caption", "LOOP", powered_row(c, l0, "loop_length_power")
            .add(label_button, 64, "loop_length", h, "FREE")
            .add(label_button, 128, "loop", h, "LOOPING DISABLED")),
        ("dynamics_caption", "DYNAMICS", powered_row(c, l1, "dynamics_power")
            .add(label_button, 134, "dynamics_control", h, "VELOCITY")
            .add(value_field, 58, "dynamics_control_amt", h, "50%"))])

    # Playback: trigger mode and polyphony.
    c = 64
    playback = ("PLAYBACK", [
        ("trigger_caption", "TRIGGER", Row(c, l0, gap=3).add(label_button, 52, "gate", h, "GATE")
            .add(label_button, 70, "one_shot", h, "ONE SHOT")
            .add(label_button, 56, "latch", h, "LATCH")),
        ("voices_caption", "VOICES", Row(c, l1, gap=3).add(label_button, 52, "mono", h, "MONO")
            .add(label_button, 52, "poly", h, "POLY").skip(6)
            .add(label_button, 68, "legato", h, "LEGATO"))])

    # Keyboards: how the rows play together, how many there are, resampling.
    c = 52
    keyboards_card = ("KEYBOARDS", [
        ("interaction_caption", "PLAY", Row(c, l0, gap=3).add(label_button, 54, "layer", h, "LAYER")
            .add(label_button, 44, "mix", h, "MIX")
            .add(label_button, 74, "cascade", h, "CASCADE")),
        ("rows_caption", "ROWS", Row(c, l1, gap=3).add(plain("minus"), 26, "remove_keyboard", h)
            .add(plain("plus"), 26, "add_keyboard", h, gap=8)
            .add(label_button, 118, "resampling", h, "RESAMPLE LIVE ONLY", size=9))])

    specs = [quantize, phrase, playback, keyboards_card]
    widths = [max(row.x - row.gap for _, _, row in lines) + pad for _, lines in specs]
    spare = WIDTH - 2 * MARGIN - CARD_GAP * (len(specs) - 1) - sum(widths)
    assert spare >= 0, "the cards are %d units too wide" % -spare
    widths[-1] += spare

    cards, x = [], MARGIN
    for (title, lines), w in zip(specs, widths):
        cards.append(card(title, x, w, [[line_caption(name, label, row.y, row_start(row) - 12)] + row.items
                                        for name, label, row in lines]))
        x += w + CARD_GAP
    return cards


def powered_row(x, y, power_name):
    """A line that starts with its section's power switch."""
    return Row(x, y).add(power, 24, power_name, dy=(LINE_H - 13) / 2, gap=8)


def row_start(row):
    return row.items[0]["x"]


NOTE_WORDS = ["c", "csharp", "d", "dsharp", "e", "f", "fsharp", "g", "gsharp", "a", "asharp", "b"]
BLACK_OFFSET = {1: 0.58, 3: 0.42, 6: 0.62, 8: 0.5, 10: 0.38}   # share of the black key left of the white boundary
WHITE_INDEX = {0: 0, 2: 1, 4: 2, 5: 3, 7: 4, 9: 5, 11: 6}


def keyboard(row, y):
    """One keyboard group: 84 keys, whites first so blacks lie on top."""
    whites, blacks = [], []
    for octave in range(OCTAVES):
        for pc in range(12):
            name = "%s%d_%d" % (NOTE_WORDS[pc], octave, row)
            if pc in WHITE_INDEX:
                kx = (octave * 7 + WHITE_INDEX[pc]) * WHITE_W
                whites.append(el(name, kx, 0, WHITE_W, WHITE_H, imgFile="pno_key_playable_empty_white.svg"))
            else:
                boundary = (octave * 7 + WHITE_INDEX[pc - 1] + 1) * WHITE_W
                kx = boundary - BLACK_W * BLACK_OFFSET[pc]
                blacks.append(el(name, kx, 0, BLACK_W, BLACK_H, imgFile="pno_key_playable_empty_black.svg"))
    width = OCTAVES * 7 * WHITE_W
    x0 = (WIDTH - width) / 2
    return el("keyboard_%d" % row, x0, y, width, WHITE_H, children=whites + blacks), x0, width


def keyboards():
    items = []
    groups = []
    for row in (4, 3, 2, 1):
        y = KEYS_Y + (4 - row) * ROW_SPACING
        group, x0, width = keyboard(row, y)
        bed_w, bed_h = width + 16, WHITE_H + 14
        items.append(el("keybed_%d" % row, x0 - 8, y - 8, bed_w, bed_h, isBg=True, imgFile=keybed_art(bed_w, bed_h),
                        children=[el("felt_%d" % row, 8, 5, width, 3, visuals={"bg": FELT, "radius": 1.5})]))
        groups.append(group)
    return items + groups, x0, width


def bottom_cluster(x0, width):
    kb1_bottom = KEYS_Y + 3 * ROW_SPACING + WHITE_H
    track_y = kb1_bottom + 10
    items = [
        el("modifers_track", x0, track_y, width, 8, visuals={"bg": "#1a2a38", "radius": 3}),
        el("keysnap_handle_low", x0 - 7, track_y - 5, 14, 18, numFrames=FRAMES_ACTION, imgFile=action_art(14, 18, "handle")),
        el("keysnap_handle_high", x0 + width - 7, track_y - 5, 14, 18, numFrames=FRAMES_ACTION, imgFile=action_art(14, 18, "handle")),
    ]
    zone_w = 7 * WHITE_W
    items.append(el("move_modifiers", x0 + 14 * WHITE_W, track_y + 16, zone_w, 16, numFrames=FRAMES_ACTION,
                    imgFile=action_art(zone_w, 16, "mover"), textContent="MODIFIERS", dynamicText=True,
                    text=text_style(8.5, ACCENT, 700, "CENTER", 18, w=zone_w, h=16)))
    return items


def hints():
    legend_w, legend_h = 250, 40
    legend = el("drag_modifiers_legend", 300, 250, legend_w, legend_h,
                imgFile=panel_art(legend_w, legend_h, "hint", fill="#0f1a24", edge=CURSOR, radius=6, top="#15283a"),
                shadow={"color": "#000000", "alpha": 0.55, "blur": 10, "offsetX": 0, "offsetY": 3, "spread": 0},
                children=[caption("drag_legend_title", 0, 6, legend_w, "DRAG TO MOVE", size=9, colour=CURSOR, align="CENTER", spacing=14),
                          caption("drag_legend_keys", 0, 21, legend_w, "CTRL copy  \u00b7  ALT mix  \u00b7  SHIFT keep pitch",
                                  size=9.5, colour=TEXT, align="CENTER", spacing=2)])
    hint_w = 270
    hint = el("paste_modifiers_hint", 640, 250, hint_w, legend_h,
              imgFile=panel_art(hint_w, legend_h, "hint", fill="#0f1a24", edge=ACCENT, radius=6, top="#15283a"),
              shadow={"color": "#000000", "alpha": 0.55, "blur": 10, "offsetX": 0, "offsetY": 3, "spread": 0},
              children=[caption("paste_hint_title", 0, 6, hint_w, "PASTED", size=9, colour=ACCENT, align="CENTER", spacing=14),
                        caption("paste_hint_keys", 0, 21, hint_w, "Paste with SHIFT to keep pitch, ALT to mix in",
                                size=9.5, colour=TEXT, align="CENTER", spacing=2)])
    return [legend, hint]


def dialogs():
    # Save dialog: under the preset bar, with the typed name.
    dw, dh = 340, 132
    dlg = el("save_preset_as_dialog", 235, 54, dw, dh, backgroundBlur=6,
             imgFile=panel_art(dw, dh, "dialog", fill="#13212d", edge="#35536b", radius=10, top="#1a2d3d", opacity=0.93),
             shadow={"color": "#000000", "alpha": 0.6, "blur": 16, "offsetX": 0, "offsetY": 6, "spread": 0},
             children=[
                 caption("save_dialog_title", 18, 14, 200, "Save Sketch", size=14, colour=TEXT, spacing=0),
                 caption("save_dialog_prompt", 18, 36, 300, "NAME", size=8.5),
                 el("save_preset_as_text_input", 18, 50, dw - 36, 28,
                    visuals={"bg": "#0a131b", "radius": 5, "strokes": [{"color": BUTTON_EDGE}], "strokeWeight": 1},
                    text=text_style(13, TEXT, 400, "LEFT", 0, box=(8, 3, dw - 52, 22))),
                 label_button("cancel_kit", dw - 18 - 84 - 8 - 84, 92, 84, 26, "CANCEL", frames=FRAMES_ACTION),
                 label_button("save_kit", dw - 18 - 84, 92, 84, 26, "SAVE", frames=FRAMES_ACTION, style="primary"),
             ])
    # The unsaved-changes question: covers the window so nothing else takes clicks.
    qw, qh = 380, 150
    qx, qy = (WIDTH - qw) / 2, 110
    bw = 96
    question = el("confirm_change_preset", 0, 0, WIDTH, HEIGHT, visuals={"bg": "#04080c", "bgOpacity": 0.72}, children=[
        el("confirm_box", qx, qy, qw, qh,
           imgFile=panel_art(qw, qh, "dialog", fill="#13212d", edge="#35536b", radius=10, top="#1a2d3d"),
           children=[
               caption("confirm_title", 0, 18, qw, "Save Changes?", size=16, colour=TEXT, align="CENTER", spacing=0),
               caption("confirm_text", 0, 46, qw, "The sketch has changes that are not saved.", size=11,
                       colour="#9fb2c1", align="CENTER", spacing=0),
               label_button("yes_save_changes", qw / 2 - bw * 1.5 - 8, 94, bw, 30, "YES", frames=FRAMES_ACTION, style="primary"),
               label_button("no_dont_save_changes", qw / 2 - bw / 2, 94, bw, 30, "NO", frames=FRAMES_ACTION),
               label_button("cancel_loading_new_preset", qw / 2 + bw / 2 + 8, 94, bw, 30, "CANCEL", frames=FRAMES_ACTION),
           ])])
    return [dlg, question]


ICONS["chevron_left"] = (["M10 4 L6 8 L10 12"], [])
ICONS["chevron_right"] = (["M6 4 L10 8 L6 12"], [])


def build():
    make_key_sprites()
    elements.append(el("background", 0, 0, WIDTH, HEIGHT, isBg=True, visuals={"bg": BG}))
    elements.extend(header())
    elements.extend(sections())
    keys, x0, width = keyboards()
    elements.extend(keys)
    elements.extend(bottom_cluster(x0, width))
    elements.extend(hints())
    elements.extend(dialogs())
    return {"width": WIDTH, "height": HEIGHT, "elements": elements}


def main():
    document = build()
    os.makedirs(OUT, exist_ok=True)
    for f in os.listdir(OUT):                 # art that is no longer drawn goes away
        if f.endswith(".svg") and f not in assets:
            os.remove(os.path.join(OUT, f))
    for name, text in sorted(assets.items()):
        with open(os.path.join(OUT, name), "w", encoding="utf-8") as fh:
            fh.write(text)
    with open(os.path.join(OUT, "figma-elements.json"), "w", encoding="utf-8") as fh:
        json.dump(document, fh, indent=1, ensure_ascii=False)
        fh.write("\n")
    print("wrote figma-elements.json and %d SVG files to %s" % (len(assets), OUT), file=sys.stderr)


if __name__ == "__main__":
    main()
