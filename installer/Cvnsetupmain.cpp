// TForm1: settings, start-up, install steps and handlers.
