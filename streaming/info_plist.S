/* The bundle metadata, carried in the executable in a section of its own. */
	.section __info_plist,"a"
	.incbin INFO_PLIST_PATH
	.section .note.GNU-stack,"",@progbits
