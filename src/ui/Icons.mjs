// Line icons on a 24-unit grid, stroked by IconGlyph in the theme's colours.
export const microphone = "M12 3a3 3 0 0 1 3 3v6a3 3 0 0 1 -6 0v-6a3 3 0 0 1 3 -3z M5.5 11a6.5 6.5 0 0 0 13 0 M12 17.5v3.5";
export const microphoneOff = "M12 3a3 3 0 0 1 3 3v6a3 3 0 0 1 -6 0v-6a3 3 0 0 1 3 -3z M5.5 11a6.5 6.5 0 0 0 13 0 M12 17.5v3.5 M4 4l16 16";
export const chat = "M4.5 5.5h15v10h-8.5l-4.5 3.5v-3.5h-2z";
export const collapse = "M6 9.5l6 6 6 -6";
export const end = "M4 13.5c5 -4.5 11 -4.5 16 0l-2.5 2.5l-3 -1.5v-2c-2 -0.7 -3 -0.7 -5 0v2l-3 1.5z";
export const plus = "M12 5v14 M5 12h14";
export const sliders = "M4 7h9 M17 7h3 M4 17h3 M11 17h9 M15 5v4 M9 15v4";
export const back = "M14.5 6l-6 6 6 6";
export const close = "M6.5 6.5l11 11 M17.5 6.5l-11 11";
export const camera = "M4 8.5h3.5l2 -3h5l2 3h3.5v10.5h-16z M12 16.2a3.2 3.2 0 1 0 0 -6.4a3.2 3.2 0 1 0 0 6.4z";
export const send = "M12 19v-13 M6.5 11.5l5.5 -5.5 5.5 5.5";
export const alert = "M12 4l9 16h-18z M12 10v4.5 M12 17.3v0.2";
export const link = "M10 14l4 -4 M8.5 11.5l-2 2a3 3 0 0 0 4 4l2 -2 M15.5 12.5l2 -2a3 3 0 0 0 -4 -4l-2 2";
