// The socket component.
