// The window: its scrolling column made from the App's rows, with their texts, sizes, colours,
// fonts and looks, kept in step with the App's state; its picture for the startup check; and the
// controls' actions.

#import "app/macos/window.h"
#import "app/macos/stack.h"

#include "core/vocabulary.h"

#if !__has_feature(objc_arc)
#error "app/macos needs automatic reference counting (-fobjc-arc)"
#endif

namespace {

NSColor* colour(const Rgb& rgb) {
  return [NSColor colorWithCalibratedRed:rgb.red green:rgb.green blue:rgb.blue alpha:1.0];
}

NSPopUpButton* popUp(NSArray<NSString*>* titles, int selected) {
  NSPopUpButton* menu = [[NSPopUpButton alloc] initWithFrame:NSZeroRect pullsDown:NO];
  [menu addItemsWithTitles:titles];
  [menu selectItemAtIndex:selected];
  return menu;
}

}  // namespace

NSString* nsText(std::string_view words) {
  NSString* text = [[NSString alloc] initWithBytes:words.data()
                                            length:words.size()
                                          encoding:NSUTF8StringEncoding];
  // Not UTF-8 (a device's own name, say): every byte still shows as some character.
  if (text == nil)
    text = [[NSString alloc] initWithBytes:words.data()
                                    length:words.size()
                                  encoding:NSISOLatin1StringEncoding];
  return text != nil ? text : @"";
}

@implementation Window {
  App* app;
  std::vector<std::pair<NSControl*, const Row*>> controls;  // each control and its row
}

- (instancetype)initWithApp:(App&)owner {
  self = [super init];
  if (self == nil)
    return nil;
  app = &owner;
  menus = [NSMutableArray array];
  buttons = [NSMutableDictionary dictionary];

  // The window, centred, resizable down to a size that still shows the column's width.
  window = [[NSWindow alloc]
      initWithContentRect:NSMakeRect(0, 0, windowWidth, windowHeight)
                styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                          NSWindowStyleMaskMiniaturizable | NSWindowStyleMaskResizable
                  backing:NSBackingStoreBuffered
                    defer:NO];
  // This object keeps the window; closing it must not free it a second time.
  window.releasedWhenClosed = NO;
  window.title = nsText(app->words.title);
  window.minSize = NSMakeSize(minimumWidth, minimumHeight);
  [window center];
  window.backgroundColor = colour(windowColour);

  // The scroll view fills the window and scrolls only vertically.
  NSScrollView* scroll = [[NSScrollView alloc] initWithFrame:NSZeroRect];
  scroll.drawsBackground = YES;
  scroll.backgroundColor = colour(columnColour);
  scroll.hasVerticalScroller = YES;
  scroll.hasHorizontalScroller = NO;
  scroll.translatesAutoresizingMaskIntoConstraints = NO;
  NSView* content = window.contentView;
  [content addSubview:scroll];
  [NSLayoutConstraint activateConstraints:@[
    [scroll.leadingAnchor constraintEqualToAnchor:content.leadingAnchor],
    [scroll.trailingAnchor constraintEqualToAnchor:content.trailingAnchor],
    [scroll.topAnchor constraintEqualToAnchor:content.topAnchor],
    [scroll.bottomAnchor constraintEqualToAnchor:content.bottomAnchor],
  ]];

  // The column fills the visible width; every row keeps its natural width from the left inset.
  ContentStack* column = [[ContentStack alloc] initWithFrame:NSZeroRect];
  column.orientation = NSUserInterfaceLayoutOrientationVertical;
  column.alignment = NSLayoutAttributeLeading;
  column.spacing = spacing;
  column.edgeInsets = NSEdgeInsetsMake(inset, inset, inset, inset);
  column.translatesAutoresizingMaskIntoConstraints = NO;
  scroll.documentView = column;
  [column.widthAnchor constraintEqualToAnchor:scroll.contentView.widthAnchor].active = YES;

  for (const Row& row : app->rows) {
    NSView* made = [self make:row];
    [column addArrangedSubview:made];
    // Texts and the status line wrap within the column's width less the insets.
    if (row.kind == Kind::text || row.kind == Kind::status)
      [made.widthAnchor constraintLessThanOrEqualToAnchor:column.widthAnchor constant:-2 * inset]
          .active = YES;
  }
  [self refresh];
  return self;
}

- (NSView*)make:(const Row&)row {
  switch (row.kind) {
    case Kind::text: {
      NSTextField* label = [NSTextField wrappingLabelWithString:nsText(row.text)];
      label.font = [NSFont systemFontOfSize:row.size];
      label.textColor = colour(row.colour == Colour::accent ? accentColour : textColour);
      return label;
    }
    case Kind::status:
      // The system's own label font and colour.
      status = [NSTextField wrappingLabelWithString:nsText(app->status)];
      return status;
    case Kind::button: {
      NSButton* button = [NSButton buttonWithTitle:nsText(row.text)
                                            target:self
                                            action:@selector(clicked:)];
      if (row.look != Look::standard) {
        button.bezelStyle = NSBezelStyleRounded;
        button.contentTintColor = colour(accentColour);
      }
      if (row.look == Look::prominent) {
        button.bezelColor = colour(accentColour);
        button.contentTintColor = NSColor.whiteColor;
      }
      button.tag = row.tag;
      buttons[button.title] = button;
      controls.emplace_back(button, &row);
      return button;
    }
    case Kind::review:
    case Kind::verified: {
      NSButton* box = [NSButton checkboxWithTitle:nsText(row.text)
                                           target:self
                                           action:@selector(edited:)];
      (row.kind == Kind::review ? review : verified) = box;
      controls.emplace_back(box, &row);
      return box;
    }
    case Kind::menu:
    case Kind::scope: {
      NSMutableArray<NSString*>* titles = [NSMutableArray array];
      NSPopUpButton* menu = nil;
      if (row.kind == Kind::menu) {
        for (auto action : actions)
          [titles addObject:nsText(actionTitle(action))];
        menu = popUp(titles, app->menus.at(static_cast<std::size_t>(row.tag)));
        [menus addObject:menu];
      } else {
        for (auto title : scopeTitles)
          [titles addObject:nsText(title)];
        menu = scope = popUp(titles, app->scope);
      }
      menu.target = self;
      menu.action = @selector(edited:);
      controls.emplace_back(menu, &row);
      return menu;
    }
  }
  return [[NSView alloc] initWithFrame:NSZeroRect];
}

- (void)refresh {
  status.stringValue = nsText(app->status);
  review.state = app->review ? NSControlStateValueOn : NSControlStateValueOff;
  verified.state = app->verified ? NSControlStateValueOn : NSControlStateValueOff;
  for (NSUInteger i = 0; i < menus.count && i < app->menus.size(); ++i)
    [menus[i] selectItemAtIndex:app->menus[i]];
  [scope selectItemAtIndex:app->scope];
  for (const auto& [control, row] : controls)
    control.enabled = app->enabled(*row);
}

- (void)raise {
  [window makeKeyAndOrderFront:nil];
  [NSApp activateIgnoringOtherApps:YES];
}

- (void)picture:(const std::string&)path {
  NSView* view = window.contentView;
  if (view == nil)
    return;
  NSBitmapImageRep* bitmap = [view bitmapImageRepForCachingDisplayInRect:view.bounds];
  if (bitmap == nil)
    return;
  [view cacheDisplayInRect:view.bounds toBitmapImageRep:bitmap];
  NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
  // A relative path counts from the current folder; an existing file is replaced; a failed write
  // is ignored, as every failure of the picture is.
  [png writeToURL:[NSURL fileURLWithPath:nsText(path)] options:0 error:nil];
}

- (void)clicked:(NSButton*)sender {
  for (const auto& [control, row] : controls) {
    if (control == sender) {
      app->run(row->action, row->tag);
      return;
    }
  }
}

- (void)edited:(id)sender {
  app->review = review.state == NSControlStateValueOn;
  app->verified = verified.state == NSControlStateValueOn;
  for (NSUInteger i = 0; i < menus.count && i < app->menus.size(); ++i)
    app->menus[i] = static_cast<int>(menus[i].indexOfSelectedItem);
  app->scope = static_cast<int>(scope.indexOfSelectedItem);
}

@end
