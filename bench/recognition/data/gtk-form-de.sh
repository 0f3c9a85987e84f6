#!/bin/sh
# How gtk-form-de.png was made: a real GTK dialog (yad) under Xvfb with openbox,
# the window cut out of a root-window capture.
#   Xvfb :77 -screen 0 1024x640x24 & DISPLAY=:77 openbox &
DISPLAY=${DISPLAY:-:77} yad --title="Kontakt bearbeiten" --form --geometry=520x300+20+20 \
  --field="Vorname" "Jürgen" --field="Nachname" "Müller" --field="Straße" "Hauptstraße 5" --field="Город" "Москва" \
  --button="Abbrechen:1" --button="Übernehmen:0" &
sleep 3
DISPLAY=${DISPLAY:-:77} import -window root -crop 524x330+19+20 +repage gtk-form-de.png
