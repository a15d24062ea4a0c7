// The user-interface library starts with the dialog-unit helper; windows join it as
// they are built.
